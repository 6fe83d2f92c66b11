#pragma once

#include <QString>

// The operating-system services only a desktop program needs; kept apart from the platform layer so
// that the headless training service links nothing of the desktop.
namespace comlib::platform
{

// Opens the file manager on the folder that holds the file or folder at path, with the item
// selected where the file manager can do so. Does not wait for the file manager; false when the
// path does not exist or nothing could be asked to show it.
bool RevealInFileManager(const QString& path);

} // namespace comlib::platform
