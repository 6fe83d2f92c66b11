#pragma once

#include "ComLib/Service/ServiceProtocol.h"

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

// Training service: base address, port and request paths (each followed by "/" and the task id), as
// the service contract defines them.
using comlib::protocol::kCancelTrainTask;
using comlib::protocol::kGetTestStatus;
using comlib::protocol::kGetTrainStatus;
using comlib::protocol::kServiceAddress;
using comlib::protocol::kServicePort;
using comlib::protocol::kStartTrainTask;
using comlib::protocol::kTestModel;

// Project setting read and written by SetLastFilePath / GetLastFilePath.
inline constexpr char kLastFilePath[] = "LastFilePath";
// Project setting: the folders images were imported from (a JSON array), rescanned at each open.
inline constexpr char kImportedFolders[] = "ImportedFolders";

} // namespace nexil
