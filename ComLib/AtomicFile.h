#pragma once

#include <QByteArray>
#include <QString>

namespace comlib
{

// Replaces path with data as a whole or not at all: the bytes go to a new file beside it, which is
// synced and then renamed over path, and the folder is synced so that the rename survives a power
// loss. A link at path is replaced by the file, never written through. false with the reason in
// error (path named) when any step fails; nothing but the old file is left then. The folder must
// exist.
bool WriteFileAtomically(const QString& path, const QByteArray& data, QString& error);

} // namespace comlib
