#include "Nexil/ImageHeader.h"

#include <QByteArray>
#include <QFile>

#include <algorithm>

namespace
{

// The decoder refuses larger images, by throwing: they are refused before it sees them.
const qint64 kMaxSide = qint64(1) << 20;
const qint64 kMaxPixels = qint64(1) << 30;
// The PNG library's own limit is lower.
const quint32 kMaxPngSide = 1000000;
const int kExifOrientationTag = 0x0112;

quint32 Be16(const QByteArray& bytes, int at)
{
    return quint32(uchar(bytes[at])) << 8 | uchar(bytes[at + 1]);
}

quint32 Be32(const QByteArray& bytes, int at)
{
    return Be16(bytes, at) << 16 | Be16(bytes, at + 2);
}

quint32 Le16(const QByteArray& bytes, int at)
{
    return quint32(uchar(bytes[at + 1])) << 8 | uchar(bytes[at]);
}

quint32 Le32(const QByteArray& bytes, int at)
{
    return Le16(bytes, at + 2) << 16 | Le16(bytes, at);
}

std::optional<QSize> Checked(qint64 width, qint64 height, bool& tooLarge)
{
    if (width <= 0 || height <= 0)
    {
        return std::nullopt;
    }
    if (width > kMaxSide || height > kMaxSide || width * height > kMaxPixels)
    {
        tooLarge = true;
        return std::nullopt;
    }
    return QSize(int(width), int(height));
}

// The orientation tag of the first directory of an EXIF block that starts with its TIFF header;
// 0 when there is none. Read as the decoder reads it: "II" is little-endian, anything else big.
int ExifOrientation(const QByteArray& tiff)
{
    const bool intel = tiff.size() > 1 && tiff[0] == 'I' && tiff[1] == 'I';
    const auto u16 = [&](qint64 at) -> qint64
    {
        if (at < 0 || at + 1 >= tiff.size())
        {
            return -1;
        }
        return intel ? Le16(tiff, int(at)) : Be16(tiff, int(at));
    };
    const auto u32 = [&](qint64 at) -> qint64
    {
        if (at < 0 || at + 3 >= tiff.size())
        {
            return -1;
        }
        return intel ? Le32(tiff, int(at)) : Be32(tiff, int(at));
    };

    if (u16(2) != 0x2A)
    {
        return 0;
    }
    qint64 offset = u32(4);
    const qint64 count = u16(offset);
    offset += 2;
    for (qint64 entry = 0; entry < count; ++entry, offset += 12)
    {
        const qint64 tag = u16(offset);
        if (tag < 0)
        {
            return 0;
        }
        if (tag == kExifOrientationTag)
        {
            return int(std::max<qint64>(u16(offset + 8), 0));
        }
    }
    return 0;
}

quint32 Crc32(const QByteArray& bytes)
{
    quint32 crc = 0xFFFFFFFF;
    for (const char c : bytes)
    {
        crc ^= uchar(c);
        for (int bit = 0; bit < 8; ++bit)
        {
            crc = (crc & 1) ? 0xEDB88320 ^ (crc >> 1) : crc >> 1;
        }
    }
    return ~crc;
}

// Size from the header chunk; orientation from the first intact eXIf chunk, before or after the
// image data, as the decoder takes it.
std::optional<QSize> PngSize(QFile& file, bool& tooLarge)
{
    const QByteArray head = file.read(24);
    if (head.size() < 24 || head.mid(12, 4) != "IHDR")
    {
        return std::nullopt;
    }
    if (Be32(head, 16) > kMaxPngSide || Be32(head, 20) > kMaxPngSide)
    {
        tooLarge = true;
        return std::nullopt;
    }
    std::optional<QSize> size = Checked(Be32(head, 16), Be32(head, 20), tooLarge);
    if (!size || !file.seek(33))
    {
        return std::nullopt;
    }
    for (;;)
    {
        const QByteArray chunk = file.read(8);
        if (chunk.size() < 8)
        {
            return std::nullopt;
        }
        const qint64 length = Be32(chunk, 0);
        const QByteArray type = chunk.mid(4);
        if (type == "IEND")
        {
            return size;
        }
        if (type == "eXIf")
        {
            const QByteArray data = file.read(length);
            const QByteArray crc = file.read(4);
            if (data.size() == length && crc.size() == 4 && Crc32(type + data) == Be32(crc, 0) &&
                (data.startsWith("II") || data.startsWith("MM")))
            {
                const int orientation = ExifOrientation(data);
                if (orientation >= 5 && orientation <= 8)
                {
                    size->transpose();
                }
                return size;
            }
            continue;
        }
        if (!file.seek(file.pos() + length + 4))
        {
            return std::nullopt;
        }
    }
}

// Frame size from the first start-of-frame marker the decoder supports, orientation from the first
// APP1 segment, both before the scan begins; the orientation of a JPEG and of a PNG swaps the sides
// as the decoder rotates the image.
std::optional<QSize> JpegSize(QFile& file, bool& tooLarge)
{
    std::optional<QSize> size;
    int orientation = 0;
    bool app1Seen = false;
    file.seek(2);
    for (;;)
    {
        char c = 0;
        do
        {
            if (!file.getChar(&c))
            {
                return std::nullopt;
            }
        } while (uchar(c) != 0xFF);
        do
        {
            if (!file.getChar(&c))
            {
                return std::nullopt;
            }
        } while (uchar(c) == 0xFF);
        const uchar marker = uchar(c);
        if (marker == 0xDA || marker == 0xD9)
        {
            break;
        }
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7))
        {
            continue;
        }
        const QByteArray lengthBytes = file.read(2);
        if (lengthBytes.size() < 2 || Be16(lengthBytes, 0) < 2)
        {
            return std::nullopt;
        }
        const qint64 payload = Be16(lengthBytes, 0) - 2;
        const qint64 next = file.pos() + payload;
        if (marker == 0xC0 || marker == 0xC1 || marker == 0xC2 || marker == 0xC9 || marker == 0xCA)
        {
            const QByteArray frame = file.read(5);
            if (size || frame.size() < 5)
            {
                return std::nullopt;
            }
            size = Checked(Be16(frame, 3), Be16(frame, 1), tooLarge);
            if (!size)
            {
                return std::nullopt;
            }
        }
        else if ((marker >= 0xC3 && marker <= 0xCF) && marker != 0xC4 && marker != 0xC8 && marker != 0xCC)
        {
            // Lossless and other frames the decoder does not take.
            return std::nullopt;
        }
        else if (marker == 0xE1 && !app1Seen)
        {
            app1Seen = true;
            const QByteArray app1 = file.read(payload);
            // "Exif" and two zero bytes come before the TIFF header.
            if (app1.size() > 6)
            {
                orientation = ExifOrientation(app1.mid(6));
            }
        }
        if (!file.seek(next))
        {
            return std::nullopt;
        }
    }
    if (size && orientation >= 5 && orientation <= 8)
    {
        size->transpose();
    }
    return size;
}

std::optional<QSize> BmpSize(QFile& file, bool& tooLarge)
{
    const QByteArray head = file.read(34);
    if (head.size() < 26)
    {
        return std::nullopt;
    }
    const quint32 infoSize = Le32(head, 14);
    if (infoSize == 12)
    {
        const quint32 bpp = Le16(head, 24);
        if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 24 && bpp != 32)
        {
            return std::nullopt;
        }
        return Checked(Le16(head, 18), Le16(head, 20), tooLarge);
    }
    if (infoSize < 36 || infoSize > 0x7FFFFFFF || head.size() < 34)
    {
        return std::nullopt;
    }
    const qint32 width = qint32(Le32(head, 18));
    const qint32 height = qint32(Le32(head, 22));
    const quint32 bpp = Le16(head, 28);
    const quint32 compression = Le32(head, 30);
    const bool plain = compression == 0 && (bpp == 1 || bpp == 4 || bpp == 8 || bpp == 24 || bpp == 32);
    const bool fields = (compression == 0 || compression == 3) && (bpp == 16 || bpp == 32);
    const bool rle = (compression == 2 && bpp == 4) || (compression == 1 && bpp == 8);
    if (height == 0 || !(plain || fields || rle))
    {
        return std::nullopt;
    }
    // A negative height means the rows are stored top-down.
    return Checked(width, qAbs(qint64(height)), tooLarge);
}

// Size and orientation from the first directory, whose tags give both for classic TIFF; BigTIFF is
// left to the decoder.
std::optional<QSize> TiffSize(QFile& file, bool& tooLarge)
{
    const QByteArray head = file.read(8);
    if (head.size() < 8)
    {
        return std::nullopt;
    }
    const bool intel = head.startsWith("II");
    const auto u16 = [intel](const QByteArray& bytes, int at)
    { return intel ? Le16(bytes, at) : Be16(bytes, at); };
    const auto u32 = [intel](const QByteArray& bytes, int at)
    { return intel ? Le32(bytes, at) : Be32(bytes, at); };
    if (u16(head, 2) != 0x2A || !file.seek(u32(head, 4)))
    {
        return std::nullopt;
    }
    const QByteArray countBytes = file.read(2);
    if (countBytes.size() < 2)
    {
        return std::nullopt;
    }
    const int count = int(u16(countBytes, 0));
    const QByteArray entries = file.read(qint64(count) * 12);
    if (entries.size() < count * 12)
    {
        return std::nullopt;
    }
    qint64 width = 0;
    qint64 height = 0;
    qint64 orientation = 1;
    for (int at = 0; at < entries.size(); at += 12)
    {
        const quint32 type = u16(entries, at + 2);
        if (u32(entries, at + 4) != 1 || (type != 3 && type != 4))
        {
            continue;
        }
        const qint64 value = type == 3 ? u16(entries, at + 8) : u32(entries, at + 8);
        switch (u16(entries, at))
        {
        case 256:
            width = value;
            break;
        case 257:
            height = value;
            break;
        case kExifOrientationTag:
            orientation = value;
            break;
        default:
            break;
        }
    }
    std::optional<QSize> size = Checked(width, height, tooLarge);
    if (size && orientation >= 5 && orientation <= 8)
    {
        size->transpose();
    }
    return size;
}

} // namespace

std::optional<QSize> ImageHeader::ReadSize(const QString& path)
{
    bool tooLarge = false;
    return ReadSize(path, tooLarge);
}

std::optional<QSize> ImageHeader::ReadSize(const QString& path, bool& tooLarge)
{
    tooLarge = false;
    QFile file(path);
    // Unbuffered: the readers skip through the file in small steps.
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
    {
        return std::nullopt;
    }
    const QByteArray signature = file.peek(8);
    if (signature == QByteArray("\x89PNG\r\n\x1a\n", 8))
    {
        return PngSize(file, tooLarge);
    }
    if (signature.startsWith("\xFF\xD8\xFF"))
    {
        return JpegSize(file, tooLarge);
    }
    if (signature.startsWith("BM"))
    {
        return BmpSize(file, tooLarge);
    }
    if (signature.startsWith("II*") || signature.startsWith(QByteArray("MM\0*", 4)))
    {
        return TiffSize(file, tooLarge);
    }
    return std::nullopt;
}
