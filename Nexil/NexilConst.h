#pragma once

#include <QFont>

// Names and values shared by the library and the program, defined once here.
namespace nexil
{

// Appended to the program's root directory.
inline constexpr char kConfigFile[] = "/Config.ini";
// Appended to the workspace path: the catalogue database and its export.
inline constexpr char kCatalogueFile[] = "/AIPrj.db";
inline constexpr char kProjectJsonFile[] = "/AIProject.json";
// Name of the default workspace folder.
inline constexpr char kWorkspaceStem[] = "AIProject";
// Appended to a project directory: annotated data and test output.
inline constexpr char kDatasDir[] = "/datas";
inline constexpr char kTestDir[] = "/test";
// Appended to a model version directory.
inline constexpr char kModelDir[] = "/model";

// Training service: base address, port and request paths (each followed by "/" and the task id).
inline constexpr char kServiceAddress[] = "http://127.0.0.1";
inline constexpr int kServicePort = 8000;
inline constexpr char kStartTrainTask[] = "/start_train_task";
inline constexpr char kGetTrainStatus[] = "/get_train_status";
inline constexpr char kCancelTrainTask[] = "/cancel_train_task";
inline constexpr char kTestModel[] = "/test_model";
inline constexpr char kGetTestStatus[] = "/get_test_status";

// Project setting read and written by SetLastFilePath / GetLastFilePath.
inline constexpr char kLastFilePath[] = "LastFilePath";
// Project setting: the folders images were imported from (a JSON array), rescanned at each open.
inline constexpr char kImportedFolders[] = "ImportedFolders";

// Font of the widgets.
inline constexpr char kFontFamily[] = "Microsoft YaHei";
inline constexpr int kFontPointSize = 14;
inline QFont WidgetFont()
{
    return QFont(QString::fromUtf8(kFontFamily), kFontPointSize);
}

} // namespace nexil
