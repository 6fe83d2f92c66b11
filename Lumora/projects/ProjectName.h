#pragma once

#include <QString>

// A project's name becomes the name of its folder under the workspace, so it must be a single folder name
// that every file system of the program accepts.
namespace projects
{

// False for an empty name, "." and "..", a name with / \ : * ? " < > | or a control character, a name that
// ends with a dot or a space, and the device names that Windows reserves (CON, NUL, COM1, ... also with an
// extension).
bool IsSafeProjectName(const QString& name);

} // namespace projects
