#pragma once

#include "ComLib/WorkerThread.h"

#include "Nexil/ImageInfo.h"

#include <QList>
#include <QMap>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <memory>

namespace Ui
{
class TestContainerWidClass;
}

class ComboListModel;
class MarksResultWid;
class QHBoxLayout;
class SingleTestWid;

// Up to three test panels side by side, with the selected image's own annotation beside them on demand.
// The panels share one list of the project's trained model versions.
class TestContainerWid : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kMaxPanels = 3;

    explicit TestContainerWid(QWidget* parent = nullptr);
    ~TestContainerWid() override;

    // Lists the model versions of the open project again.
    void ReloadModels();
    // Shows the image in the annotation view and in every panel with that panel's prediction, and with
    // withTruth the image's annotation drawn under each prediction.
    void ShowImage(std::weak_ptr<pro::ImageInfo> wpImg, bool withTruth = false);
    // Some panel runs a test.
    bool Testing() const;
    // The panels in ascending id order.
    QList<SingleTestWid*> Panels() const { return m_panels.values(); }
    SingleTestWid* Panel(const QString& id) const { return m_panels.value(id); }
    // The panels in the order they stand in the row.
    QList<SingleTestWid*> PanelsInRow() const;
    // Every panel forgets its last result: the test images changed.
    void ClearResults();
    // The images every panel tests from now on, and panels added later too (see SingleTestWid).
    void SetTestImages(const QStringList& relativePaths, const QString& setName);

signals:
    void Signal_GetModels(QString path);
    void Signal_TestRlt(QStringList lossRateFile, QStringList overKillRile);
    void Signal_TestingChanged(bool testing);
    // A panel came or went, or the labelled result of one changed.
    void Signal_ResultsChanged();
    // The panel's user asks to test its chosen version on that version's validation images.
    void Signal_TestValidationSet(QString id);

public slots:
    void Slot_BtnAddTestClicked();
    void Slot_DelTestItem(QString id);
    void Slot_ckShowMarkStateChanged(int state);
    void Slot_ModelList(QList<QPair<QString, QString>> lstModVer);

private:
    SingleTestWid* AddPanel();

    std::unique_ptr<Ui::TestContainerWidClass> ui;
    MarksResultWid* m_markView;
    QHBoxLayout* m_panelRow;
    QMap<QString, SingleTestWid*> m_panels;
    std::weak_ptr<pro::ImageInfo> m_shownImg;
    QStringList m_testImages;
    QString m_setName;
    ComboListModel* m_models;
    comlib::WorkerThread m_modelThread{QStringLiteral("LoadModelWork")};
};
