#include "HostileImage.h"

namespace
{

QByteArray Be32(quint32 v)
{
    return QByteArray(1, char(v >> 24)) + char(v >> 16) + char(v >> 8) + char(v);
}

quint32 Crc32(const QByteArray& bytes)
{
    quint32 crc = 0xFFFFFFFF;
    for (const char c : bytes)
    {
        crc ^= uchar(c);
        for (int k = 0; k < 8; ++k)
            crc = crc & 1 ? 0xEDB88320 ^ (crc >> 1) : crc >> 1;
    }
    return ~crc;
}

} // namespace

QByteArray PngChunk(const QByteArray& type, const QByteArray& data)
{
    return Be32(quint32(data.size())) + type + data + Be32(Crc32(type + data));
}

QByteArray PngClaiming(quint32 width, quint32 height)
{
    // Eight bits per sample, RGB; the image data is one tiny zlib stream.
    const QByteArray header = Be32(width) + Be32(height) + QByteArray("\x08\x02\x00\x00\x00", 5);
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + PngChunk("IHDR", header) +
           PngChunk("IDAT", QByteArray("\x78\x9C\x63\x00\x00\x00\x01\x00\x01", 9)) +
           PngChunk("IEND", QByteArray());
}
