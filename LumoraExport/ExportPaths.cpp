#include "LumoraExport/ExportPaths.h"

#include "ComLib/AtomicFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

namespace fs = std::filesystem;

namespace ExportPaths
{

namespace
{

const char* const kProjectFiles[] = {"PrjData.db", "AIPrj.db"};

QString FromFsPath(const fs::path& path)
{
#ifdef Q_OS_WIN
    return QDir::fromNativeSeparators(QString::fromStdWString(path.wstring()));
#else
    return QFile::decodeName(QByteArray::fromStdString(path.string()));
#endif
}

QString Absolute(const QString& path)
{
    const QString spelled = QDir::fromNativeSeparators(path);
    // QFileInfo would drop "link/.." by the spelling, where the system goes to the link's parent.
    return QDir::isRelativePath(spelled) ? QDir::currentPath() + "/" + spelled : spelled;
}

// There as an entry of its folder, whatever it is or points to.
bool Present(const fs::path& path)
{
    std::error_code error;
    return fs::exists(fs::symlink_status(path, error));
}

bool IsProjectFile(const QString& name)
{
    for (const char* file : kProjectFiles)
    {
        if (name.compare(QLatin1String(file), Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

} // namespace

fs::path FsPath(const QString& path)
{
#ifdef Q_OS_WIN
    return fs::path(path.toStdWString());
#else
    return fs::path(QFile::encodeName(path).toStdString());
#endif
}

QString Resolved(const QString& path)
{
    if (path.isEmpty())
        return QString();
    std::error_code error;
    const fs::path resolved = fs::weakly_canonical(FsPath(Absolute(path)), error);
    return error || resolved.empty() ? QString() : QDir::cleanPath(FromFsPath(resolved));
}

QString ResolvedOutput(const QString& path)
{
    QString absolute = Absolute(path);
    while (absolute.size() > 1 && absolute.endsWith('/'))
        absolute.chop(1);
    const int slash = absolute.lastIndexOf('/');
    const QString name = absolute.mid(slash + 1);
    if (slash < 0 || name.isEmpty() || name == "." || name == "..")
        return Resolved(absolute);
    const QString parent = Resolved(absolute.left(slash + 1));
    if (parent.isEmpty())
        return QString();
    return parent.endsWith('/') ? parent + name : parent + "/" + name;
}

bool IsLink(const QString& path)
{
    std::error_code error;
    if (fs::is_symlink(fs::symlink_status(FsPath(path), error)))
        return true;
#ifdef Q_OS_WIN
    return QFileInfo(path).isJunction();
#else
    return false;
#endif
}

bool SameOrInside(const QString& path, const QString& folder, Qt::CaseSensitivity cs)
{
    if (path.compare(folder, cs) == 0)
        return true;
    const QString prefix = folder.endsWith('/') ? folder : folder + "/";
    return path.startsWith(prefix, cs);
}

QString EnclosingProject(const QString& path)
{
    for (QString folder = path;;)
    {
        for (const char* file : kProjectFiles)
        {
            if (Present(FsPath(folder + "/" + file)))
                return folder;
        }
        const QString parent = QFileInfo(folder).absolutePath();
        if (parent == folder)
            return QString();
        folder = parent;
    }
}

std::optional<QString> ProjectBelow(const QString& folder)
{
    for (const char* file : kProjectFiles)
    {
        if (Present(FsPath(folder + "/" + file)))
            return folder;
    }
    std::error_code error;
    // Links to folders are not followed: they go as links when the folder is removed.
    for (fs::recursive_directory_iterator it(FsPath(folder), error), end; !error && it != end;
         it.increment(error))
    {
        if (IsProjectFile(FromFsPath(it->path().filename())))
            return FromFsPath(it->path().parent_path());
    }
    if (error)
        return std::nullopt;
    return QString();
}

bool HasMarker(const QString& folder)
{
    std::error_code error;
    return fs::is_regular_file(fs::symlink_status(FsPath(folder + "/" + kMarkerFile), error));
}

bool WriteMarker(const QString& folder, const QString& format)
{
    const QByteArray text = QJsonDocument(QJsonObject{{"made_by", "LumoraExport"}, {"format", format}})
                                .toJson(QJsonDocument::Compact);
    QString error;
    return comlib::WriteFileAtomically(folder + "/" + kMarkerFile, text, error);
}

bool RemoveTree(const QString& path)
{
    // remove_all takes a link itself and never descends through one.
    std::error_code error;
    fs::remove_all(FsPath(path), error);
    return !error;
}

QString FileResolver::Resolved(const QString& file)
{
    const QString absolute = Absolute(file);
    // Only a path without ".." may be taken apart by its spelling.
    if (absolute.contains("/../") || absolute.endsWith("/..") || IsLink(absolute))
    {
        const QString resolved = ExportPaths::Resolved(absolute);
        return resolved.isEmpty() ? QDir::cleanPath(absolute) : resolved;
    }
    const QString cleaned = QDir::cleanPath(absolute);
    const int slash = cleaned.lastIndexOf('/');
    const QString dir = cleaned.left(slash + 1);
    auto found = m_dirs.find(dir);
    if (found == m_dirs.end())
    {
        const QString resolved = ExportPaths::Resolved(dir);
        found = m_dirs.insert(dir, resolved.isEmpty() ? QDir::cleanPath(dir) : resolved);
    }
    return found->endsWith('/') ? *found + cleaned.mid(slash + 1) : *found + cleaned.mid(slash);
}

} // namespace ExportPaths
