#pragma once

#include <QString>
#include <QtGlobal>

#include <string>

class QMessageLogContext;

// Rotating log files of the program: the default logger "Tarvik", which receives every Qt message,
// and named loggers such as "Operater" for the user's operations.
namespace comlib::Log
{

// Reads [Log] Level of the root folder's Config.ini (default 1), keeps it and creates the default logger.
void InitDefaultLog();

// Creates the logger of that name (empty: the default logger) in the root folder's Log folder.
void CreateLogger(const std::string& name, int level, bool banner);
// The same with the level kept by InitDefaultLog.
void CreateLogger(const std::string& name, bool banner);
// The same in an explicit log folder.
void CreateLoggerIn(const std::string& logDir, const std::string& name, int level, bool banner);

// Deletes the files "<prefix>_<date>[.<n>].log" of all but the keepDays newest dates.
void CleanOldLogs(const std::string& folder, const std::string& prefix, int keepDays);

// Qt message handler: writes "[file:line] text" on the default logger.
void customLogMessageHandler(QtMsgType type, const QMessageLogContext& context, const QString& msg);

// Level kept by InitDefaultLog (1 until then).
int StoredLevel();
void SetStoredLevel(int level);

// Product version text written in the banner and the installation record.
std::string ProductVersion();

} // namespace comlib::Log
