#include "ProjectFolder.h"

#include "ComLib/ComFunc.h"

#include <QFile>
#include <QFileInfo>

#include <filesystem>

namespace
{

constexpr char kDatabaseFile[] = "/PrjData.db";
// Every SQLite database file begins with these 16 bytes; an empty file becomes a new database.
const QByteArray kSqliteHeader("SQLite format 3\0", 16);

} // namespace

QString ProjectFolder::OpenProblem(const QString& folder)
{
    const QFileInfo folderInfo(folder);
    if (folderInfo.exists() && !folderInfo.isDir())
        return tr("同名的文件占用了工程文件夹的位置。");
    try
    {
        comlib::EnsureDir(folder.toStdString());
    }
    catch (const std::filesystem::filesystem_error& e)
    {
        return tr("无法创建工程文件夹：%1").arg(QString::fromLocal8Bit(e.code().message().c_str()));
    }

    const QFileInfo database(folder + kDatabaseFile);
    if (!database.exists())
        return QFileInfo(folder).isWritable() ? QString() : tr("没有在工程文件夹中写入的权限。");
    if (!database.isFile())
        return tr("PrjData.db 不是文件。");
    QFile file(database.absoluteFilePath());
    if (!file.open(QIODevice::ReadWrite))
        return tr("无法读写 PrjData.db：%1").arg(file.errorString());
    const QByteArray head = file.read(kSqliteHeader.size());
    if (!head.isEmpty() && head != kSqliteHeader)
        return tr("PrjData.db 不是工程数据库。");
    return QString();
}
