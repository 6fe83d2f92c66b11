#include "Platform.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QUrl>
#include <QUuid>

#include <spdlog/sinks/null_sink.h>
#ifdef Q_OS_WIN
#include <spdlog/sinks/msvc_sink.h>
#endif

#include <filesystem>
#ifndef Q_OS_WIN
#include <unistd.h>
#endif

namespace comlib::platform
{

std::string ExecutablePath()
{
    if (QCoreApplication::instance())
        return QCoreApplication::applicationFilePath().toStdString();
#ifdef Q_OS_WIN
    return {};
#else
    std::error_code ec;
    const auto p = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : p.string();
#endif
}

std::string UserDataDir()
{
#ifdef Q_OS_WIN
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
#else
    // A relative XDG_DATA_HOME is to be ignored; Qt would take it relative to the working folder.
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (QDir::isRelativePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/share");
#endif
    // Named here, not after the running program, so that the service and the tools find the same folder.
    return base.isEmpty() || QDir::isRelativePath(base)
               ? std::string()
               : QDir::cleanPath(base + QStringLiteral("/Lumora")).toStdString();
}

bool MayWriteIn(const std::string& dir)
{
#ifdef Q_OS_WIN
    const QFileInfo info(QString::fromStdString(dir));
    return info.isDir() && info.isWritable();
#else
    return ::access(dir.c_str(), W_OK | X_OK) == 0;
#endif
}

std::string DefaultWorkspaceParent(const std::string& appDir)
{
#ifdef Q_OS_WIN
    // The drive letter, colon and separator of the program folder.
    return appDir.size() >= 2 && appDir[1] == ':' ? appDir.substr(0, 2) + "/" : std::string();
#else
    Q_UNUSED(appDir);
    // No drive letters here: the user's home takes the place of the drive root.
    std::string home = QDir::homePath().toStdString();
    if (home.empty() || home.back() != '/')
        home += '/';
    return home;
#endif
}

bool WriteInstallRecord(const std::string& maker, const std::string& product,
                        const std::map<std::string, std::string>& values)
{
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, QString::fromStdString(maker),
                       QString::fromStdString(product));
    if (settings.status() != QSettings::NoError || !settings.isWritable())
        return false;
    for (const auto& [name, value] : values)
    {
        settings.setValue(QString::fromStdString(name), QString::fromStdString(value));
        settings.sync();
        if (settings.status() != QSettings::NoError)
            return false;
    }
    return true;
}

std::string ProductVersion()
{
    return LUMORA_VERSION;
}

Guid NewGuid()
{
    const QUuid u = QUuid::createUuid();
    Guid g;
    g.data1 = u.data1;
    g.data2 = u.data2;
    g.data3 = u.data3;
    for (int i = 0; i < 8; ++i)
        g.data4[i] = u.data4[i];
    return g;
}

std::shared_ptr<spdlog::sinks::sink> DebugOutputSink()
{
#ifdef Q_OS_WIN
    return std::make_shared<spdlog::sinks::msvc_sink_mt>();
#else
    return std::make_shared<spdlog::sinks::null_sink_mt>();
#endif
}

} // namespace comlib::platform
