#pragma once

#include <map>
#include <string>

// Small shared helpers of the program: fixed locations, file-system shortcuts, time text,
// identifiers and the installation record. Paths are UTF-8 with '/' as separator.
namespace comlib
{

// Folder of the running program file.
std::string AppDir();
// Holds Config.ini, Startup.json and the Log folder: RootDirFor(AppDir(), platform::UserDataDir()).
std::string RootDir();
// File, relative to the parent of an installed program's folder, that marks the installed copy.
inline constexpr char kInstalledMarker[] = "share/lumora/installed";
// The parent folder of appDir, as in a development build or a copied program folder; but when the
// program may not write there, or it is an installed copy (it holds kInstalledMarker; an administrator
// could write there), userDataDir, created when missing.
std::string RootDirFor(const std::string& appDir, const std::string& userDataDir);
// Workspace folder from Config.ini of the root folder, created when missing.
// Throws std::filesystem::filesystem_error when it cannot be created or a file stands in its place.
std::string WorkspaceDir();
// The same for an explicit Config.ini path and default workspace.
std::string WorkspaceDirFrom(const std::string& configPath, const std::string& defaultPath);

// Creates the folder with its parents when nothing exists at the path; throws on failure.
void EnsureDir(const std::string& path);
// Removes the file or folder tree at the path when something exists there; throws on failure.
void RemovePath(const std::string& path);
bool PathExists(const std::string& path);

// Local time as "YYYY-MM-DD hh:mm:ss".
std::string NowString();
// A new identifier: upper-case hexadecimal of a fresh GUID's fields, 11 to 32 characters.
std::string MakeUniqueId();
// Writes the installation record of maker/product.
bool WriteRegValues(const std::string& maker, const std::string& product,
                    const std::map<std::string, std::string>& values);

} // namespace comlib
