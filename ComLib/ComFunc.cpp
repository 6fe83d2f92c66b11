#include "ComFunc.h"

#include "IniFile.h"
#include "Platform.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <iomanip>
#include <sstream>

namespace fs = std::filesystem;

namespace comlib
{

namespace
{

std::string ParentOf(std::string path)
{
    std::replace(path.begin(), path.end(), '\\', '/');
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return {};
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

fs::path U8(const std::string& path)
{
    return fs::u8path(path);
}

} // namespace

std::string AppDir()
{
    return ParentOf(platform::ExecutablePath());
}

std::string RootDir()
{
    return RootDirFor(AppDir(), platform::UserDataDir());
}

std::string RootDirFor(const std::string& appDir, const std::string& userDataDir)
{
    const std::string parent = ParentOf(appDir);
    std::error_code ec;
    const bool installed = fs::exists(U8(parent + "/" + kInstalledMarker), ec);
    if ((!installed && platform::MayWriteIn(parent)) || userDataDir.empty())
        return parent;
    fs::create_directories(U8(userDataDir), ec);
    return userDataDir;
}

std::string WorkspaceDir()
{
    return WorkspaceDirFrom(RootDir() + "/Config.ini",
                            platform::DefaultWorkspaceParent(AppDir()) + "AIProject");
}

std::string WorkspaceDirFrom(const std::string& configPath, const std::string& defaultPath)
{
    std::error_code ec;
    if (!fs::exists(U8(configPath), ec))
        IniFile::WriteString("Config", "DatasPath", defaultPath, configPath);
    const std::string result = IniFile::ReadString("Config", "DatasPath", defaultPath, configPath);
    if (!fs::exists(U8(result)))
    {
        fs::create_directories(U8(result), ec);
        if (ec)
            throw fs::filesystem_error("create_directories", U8(result), ec);
    }
    // A file of that name cannot hold the catalogue and the projects.
    else if (!fs::is_directory(U8(result), ec))
        throw fs::filesystem_error("create_directories", U8(result),
                                   ec ? ec : std::make_error_code(std::errc::not_a_directory));
    return result;
}

void EnsureDir(const std::string& path)
{
    if (fs::exists(U8(path)))
        return;
    std::error_code ec;
    fs::create_directories(U8(path), ec);
    if (ec)
        throw fs::filesystem_error("create_directories", U8(path), ec);
}

void RemovePath(const std::string& path)
{
    if (!fs::exists(U8(path)))
        return;
    std::error_code ec;
    fs::remove_all(U8(path), ec);
    if (ec)
        throw fs::filesystem_error("remove_all", U8(path), ec);
}

bool PathExists(const std::string& path)
{
    std::error_code ec;
    return fs::exists(U8(path), ec);
}

std::string NowString()
{
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
    std::ostringstream out;
    out << std::put_time(&local, "%Y-%m-%d %H:%M:%S");
    return out.str();
}

std::string MakeUniqueId()
{
    const platform::Guid g = platform::NewGuid();
    std::ostringstream out;
    out << std::hex << std::uppercase << g.data1 << g.data2 << g.data3;
    for (unsigned char b : g.data4)
        out << static_cast<unsigned int>(b);
    return out.str();
}

bool WriteRegValues(const std::string& maker, const std::string& product,
                    const std::map<std::string, std::string>& values)
{
    return platform::WriteInstallRecord(maker, product, values);
}

} // namespace comlib
