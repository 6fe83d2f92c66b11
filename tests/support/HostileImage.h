#pragma once

#include <QByteArray>

// Image files that claim far more than they hold, for showing that every reader of ours survives them.

// One PNG chunk: length, type, data and the checksum decoders verify.
QByteArray PngChunk(const QByteArray& type, const QByteArray& data);
// A well-formed PNG of about 120 bytes whose header claims the given size; decoders believe it.
QByteArray PngClaiming(quint32 width, quint32 height);
