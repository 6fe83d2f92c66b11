#include "ImgStatus.h"

#include <QDir>
#include <QFileInfo>

QString ImgStatus::Text(int code)
{
    switch (code)
    {
    case kOk:
        return QStringLiteral("OK");
    case kNg:
        return QStringLiteral("NG");
    case kAddedManually:
        return QStringLiteral("手动添加");
    default:
        return QStringLiteral("待确认");
    }
}

int ImgStatus::CodeOfFolder(const QString& name)
{
    for (int code : {kUnconfirmed, kOk, kNg, kAddedManually})
    {
        if (name == Text(code))
            return code;
    }
    return -1;
}

int ImgStatus::CodeOfPath(const QString& folderPath)
{
    QString path = QDir::cleanPath(QFileInfo(folderPath).absoluteFilePath());
    while (!QDir(path).isRoot())
    {
        const int code = CodeOfFolder(QFileInfo(path).fileName());
        if (code >= 0)
            return code;
        const QString up = QFileInfo(path).path();
        if (up == path || up.isEmpty())
            break;
        path = up;
    }
    return kUnconfirmed;
}
