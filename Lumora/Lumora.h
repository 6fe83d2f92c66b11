#pragma once

#include <QMainWindow>

#include <memory>

namespace Ui
{
class LumoraClass;
}

namespace comlib
{
class ServiceStarter;
}

class ImgMarksWid;
class ModelTestingWid;
class ModelTrainingWid;
class QAbstractButton;
class QButtonGroup;
class QScreen;
class QStackedWidget;

// The main window of the open project: its name and notes, which the user may edit, and the pages for
// annotation, training and testing.
class Lumora : public QMainWindow
{
    Q_OBJECT

public:
    explicit Lumora(QWidget* parent = nullptr);
    ~Lumora() override;

    // Shows the window maximised on the screen, or the primary one; it never grows past the screen's
    // available area, whatever the project's name and notes.
    void ShowOnScreen(QScreen* screen = nullptr);
    // The training page shows the state of the service that service looks after.
    void ShowServiceState(comlib::ServiceStarter* service);

public slots:
    // Makes the clicked button's page current; the testing page reloads its models each time.
    void Slot_BtnPageIndexClicked(QAbstractButton* button);
    // Starts editing the notes, or finishes an edit in progress.
    void Slot_BtnModPrjClicked();
    // Stores the edited notes in the catalogue and shows them again.
    void Slot_edtModPrjFinished();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FillProjectStrip();
    // Leaves editing the notes without storing them; the strip shows the stored notes again.
    void CancelNotesEdit();
    void ShowStrip();

    std::unique_ptr<Ui::LumoraClass> ui;
    QButtonGroup* m_pageGroup;
    ImgMarksWid* m_imgMarks;
    ModelTrainingWid* m_modelTraining;
    ModelTestingWid* m_modelTesting;
    QStackedWidget* m_pages;
};
