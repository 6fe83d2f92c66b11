#pragma once

#include <QString>

// A project's name becomes the name of its folder under the workspace, so it must be a single folder name
// that every file system of the program accepts.
namespace comlib
{

// The longest folder name the file systems take (NAME_MAX), in bytes of UTF-8; a Chinese character takes 3.
inline constexpr int kMaxProjectNameBytes = 255;

// False for an empty name, "." and "..", a name with / \ : * ? " < > | or a control character, a name that
// ends with a dot or a space, a name longer than kMaxProjectNameBytes, and the device names that Windows
// reserves (CON, NUL, COM1, ... also with an extension).
bool IsSafeProjectName(const QString& name);

} // namespace comlib
