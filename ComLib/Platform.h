#pragma once

#include <map>
#include <memory>
#include <string>

namespace spdlog::sinks
{
class sink;
}

// The few operating-system services the program needs, behind one small interface.
namespace comlib::platform
{

// Absolute path of the running program file.
std::string ExecutablePath();

// The user's own data folder of the program (the application data location of "Lumora"), whichever
// program of the project asks; empty when the user has no home folder.
std::string UserDataDir();

// True when this process may create files in the folder.
bool MayWriteIn(const std::string& dir);

// Root folder that holds the default workspace ("drive root" of the program folder).
std::string DefaultWorkspaceParent(const std::string& appDir);

// Writes the installation record under maker/product, values in ascending order of name,
// stopping at the first failure.
bool WriteInstallRecord(const std::string& maker, const std::string& product,
                        const std::map<std::string, std::string>& values);

// Product version of this build.
std::string ProductVersion();

// The four GUID fields of a new identifier.
struct Guid
{
    unsigned int data1 = 0;
    unsigned short data2 = 0;
    unsigned short data3 = 0;
    unsigned char data4[8] = {};
};
Guid NewGuid();

// Second sink of every logger: the debugger output where there is one, nowhere otherwise.
std::shared_ptr<spdlog::sinks::sink> DebugOutputSink();

} // namespace comlib::platform
