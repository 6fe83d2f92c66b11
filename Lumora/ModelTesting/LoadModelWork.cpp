#include "LoadModelWork.h"

#include "Nexil/NexilConst.h"

#include <QDir>
#include <QFileInfo>

LoadModelWork::LoadModelWork() : QObject(nullptr)
{
    qRegisterMetaType<QList<QPair<QString, QString>>>("QList<QPair<QString,QString>>");
}

LoadModelWork::~LoadModelWork() = default;

void LoadModelWork::Slot_GetModels(QString path)
{
    QList<QPair<QString, QString>> versions;
    const QFileInfoList folders = QDir(path).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::NoSort);
    for (const QFileInfo& folder : folders)
    {
        const QString name = folder.fileName();
        // A run that never got as far as exporting its model has no "model" folder and cannot be tested.
        if (name.size() != kVersionNameLength || !name.startsWith(QLatin1Char('V')))
            continue;
        const QString dir = folder.absoluteFilePath();
        if (QFileInfo(dir + QLatin1String(nexil::kModelDir)).isDir())
            versions.append({name, dir});
    }
    emit Signal_ModelList(versions);
}
