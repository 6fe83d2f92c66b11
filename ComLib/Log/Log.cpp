#include "Log.h"

#include "../ComFunc.h"
#include "../IniFile.h"
#include "../Platform.h"

#include <spdlog/sinks/rotating_file_sink.h>
#include <spdlog/spdlog.h>

#include <QByteArray>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <exception>
#include <filesystem>
#include <iostream>
#include <map>
#include <mutex>
#include <regex>
#include <vector>

namespace fs = std::filesystem;

namespace comlib::Log
{

namespace
{

constexpr std::size_t kMaxFileSize = 52428800;
constexpr std::size_t kMaxFiles = 100;
constexpr int kKeepDays = 3;

std::atomic<int> g_level{1};

std::string& VersionText()
{
    static std::string version;
    return version;
}

std::mutex& VersionMutex()
{
    static std::mutex m;
    return m;
}

spdlog::level::level_enum MapLevel(int level)
{
    switch (level)
    {
    case 0:
        return spdlog::level::debug;
    case 1:
        return spdlog::level::info;
    default:
        return spdlog::level::err;
    }
}

std::string TodayText()
{
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm local{};
    localtime_r(&now, &local);
    char buf[16];
    std::strftime(buf, sizeof buf, "%Y-%m-%d", &local);
    return buf;
}

// "2025-3-7" → "2025-03-07"; empty when the text is no calendar date.
std::string NormalisedDate(const std::string& text)
{
    int y = 0, m = 0, d = 0;
    char tail = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2d%c", &y, &m, &d, &tail) != 3)
        return {};
    if (m < 1 || m > 12 || d < 1 || d > 31)
        return {};
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", y, m, d);
    return buf;
}

} // namespace

int StoredLevel()
{
    return g_level.load();
}

void SetStoredLevel(int level)
{
    g_level.store(level);
}

std::string ProductVersion()
{
    std::lock_guard<std::mutex> lock(VersionMutex());
    return VersionText();
}

void InitDefaultLog()
{
    const std::string config = RootDir() + "/Config.ini";
    int level = 1;
    try
    {
        level = std::stoi(IniFile::ReadString("Log", "Level", "1", config));
    }
    catch (const std::exception&)
    {
        // A level that is no number counts as absent, as the profile API reads it.
        level = 1;
    }
    SetStoredLevel(level);
    CreateLogger(std::string(), level, true);
}

void CreateLogger(const std::string& name, int level, bool banner)
{
    CreateLoggerIn(RootDir() + "/Log/", name, level, banner);
}

void CreateLogger(const std::string& name, bool banner)
{
    CreateLogger(name, StoredLevel(), banner);
}

void CreateLoggerIn(const std::string& logDir, const std::string& name, int level, bool banner)
{
    if (!name.empty() && spdlog::get(name))
        return;
    try
    {
        const std::string prefix = name.empty() ? std::string("Tarvik") : name;
        std::string dir = logDir;
        if (!dir.empty() && dir.back() != '/')
            dir += '/';
        const std::string file = dir + prefix + "_" + TodayText() + ".log";
        auto logger = spdlog::rotating_logger_mt(prefix, file, kMaxFileSize, kMaxFiles, false);
        logger->sinks().push_back(platform::DebugOutputSink());
        logger->set_level(MapLevel(level));
        logger->flush_on(spdlog::level::info);
        if (banner)
            logger->info(
                "**************************************      开始       *****************************");
        if (name.empty())
            spdlog::set_default_logger(logger);
        const std::string version = platform::ProductVersion();
        if (banner)
        {
            logger->info("软件版本：{0}", version);
            logger->info("日志等级：{0}", level);
        }
        {
            std::lock_guard<std::mutex> lock(VersionMutex());
            VersionText() = version;
        }
        CleanOldLogs(dir, prefix, kKeepDays);
    }
    catch (...)
    {
        // Without this logger the program carries on; Qt messages go to whatever default logger exists.
    }
}

void CleanOldLogs(const std::string& folder, const std::string& prefix, int keepDays)
{
    if (prefix.empty())
    {
        std::cerr << "Log prefix cannot be empty!" << std::endl;
        return;
    }
    try
    {
        const std::regex pattern(prefix + R"(_(\d{4}-\d{1,2}-\d{1,2})(?:\.\d+)?\.log)",
                                 std::regex::ECMAScript);
        std::map<std::string, std::vector<fs::path>, std::greater<>> groups;
        for (const auto& entry : fs::directory_iterator(fs::u8path(folder)))
        {
            if (!entry.is_regular_file())
                continue;
            const std::string fileName = entry.path().filename().u8string();
            std::smatch match;
            if (!std::regex_match(fileName, match, pattern))
                continue;
            const std::string date = NormalisedDate(match[1].str());
            if (date.empty())
                continue;
            groups[date].push_back(entry.path());
        }
        int index = 0;
        for (const auto& [date, files] : groups)
        {
            if (index++ < keepDays)
                continue;
            for (const auto& file : files)
            {
                std::error_code ec;
                if (!fs::remove(file, ec) || ec)
                {
                    std::cerr << "Error deleting " << file.u8string() << ": " << ec.message() << std::endl;
                    continue;
                }
                std::cout << "Deleted old log: " << file.filename() << std::endl;
            }
        }
    }
    catch (const fs::filesystem_error& e)
    {
        std::cerr << "Filesystem error: " << e.what() << std::endl;
    }
    catch (const std::regex_error& e)
    {
        std::cerr << "Regex error: " << e.what() << std::endl;
    }
    catch (const std::exception& e)
    {
        std::cerr << "Error in CleanOldLogs: " << e.what() << std::endl;
    }
}

void customLogMessageHandler(QtMsgType type, const QMessageLogContext& context, const QString& msg)
{
    if (type == QtFatalMsg)
        std::abort();
    QString file = QString::fromUtf8(context.file ? context.file : "");
    const int backslash = file.lastIndexOf(QLatin1Char('\\'));
    if (backslash >= 0)
        file = file.mid(backslash + 1);
    const QString text = QStringLiteral("[%1:%2] %3").arg(file).arg(context.line).arg(msg);

    spdlog::logger* logger = spdlog::default_logger_raw();
    if (!logger)
        return;
    const QByteArray local = text.toLocal8Bit();
    const spdlog::string_view_t view(local.constData(), static_cast<std::size_t>(local.size()));
    switch (type)
    {
    case QtDebugMsg:
        logger->debug(view);
        break;
    case QtWarningMsg:
        logger->warn(view);
        break;
    case QtCriticalMsg:
        logger->critical(view);
        break;
    case QtInfoMsg:
    default:
        logger->info(view);
        break;
    }
}

} // namespace comlib::Log
