#pragma once

#include <QList>
#include <QObject>
#include <QPair>
#include <QString>

// Lists the trained model versions of a project's "/train" folder in a thread of its own, so a slow
// disk never stalls the testing page.
class LoadModelWork : public QObject
{
    Q_OBJECT

public:
    // "V" and the start time "yyyy-MM-dd_hh-mm-ss" of the training run.
    static constexpr int kVersionNameLength = 20;

    LoadModelWork();
    ~LoadModelWork() override;

signals:
    // (version name, version folder) in listing order.
    void Signal_ModelList(QList<QPair<QString, QString>> lstModVer);

public slots:
    void Slot_GetModels(QString path);
};
