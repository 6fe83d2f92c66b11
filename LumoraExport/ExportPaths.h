#pragma once

#include <QHash>
#include <QString>

#include <filesystem>
#include <optional>

// Paths as the file system sees them, for the checks that keep an export away from projects. A path
// is resolved before it is compared: links and ".." by the system, so that no spelling leads a check
// astray. Refusals compare without case, which on a case-sensitive system only refuses more.
namespace ExportPaths
{

// The hidden file at the root of every export; only a folder holding it is ever replaced.
inline constexpr char kMarkerFile[] = ".lumora-export";

std::filesystem::path FsPath(const QString& path);

// Absolute, with the links and ".." of the part that exists resolved by the system and the rest
// normalised; empty when the system cannot resolve it.
QString Resolved(const QString& path);
// A folder to write: its parent resolved, its own name kept, so that a link there stays a link
// (IsLink). Empty when the parent cannot be resolved.
QString ResolvedOutput(const QString& path);
// A symbolic link (or a junction), whatever it points to, or nothing at all.
bool IsLink(const QString& path);
bool SameOrInside(const QString& path, const QString& folder, Qt::CaseSensitivity cs);

// path itself or the nearest folder above it that holds a project or workspace database; empty
// when there is none.
QString EnclosingProject(const QString& path);
// A folder at or below folder holding a project or workspace database, links not followed; empty
// when there is none, nothing when the folder cannot be read through.
std::optional<QString> ProjectBelow(const QString& folder);

bool HasMarker(const QString& folder);
bool WriteMarker(const QString& folder, const QString& format);
// Removes path and everything below it; a link goes as a link, never what it points to.
bool RemoveTree(const QString& path);

// Resolves many files of few folders: each folder once, a file itself only when it is a link.
class FileResolver
{
public:
    // Falls back to the path as spelled, made absolute, when the system cannot resolve it.
    QString Resolved(const QString& file);

private:
    QHash<QString, QString> m_dirs;
};

} // namespace ExportPaths
