#pragma once

#include <QSize>
#include <QString>

#include <optional>

// The size of an image read from the head of its file, as OpenCV's colour decoding would give it
// (the EXIF orientation of a JPEG and the orientation tag of a TIFF swap width and height), without decoding
// the pixels.
class ImageHeader
{
public:
    // Columns and rows for a PNG, JPEG, BMP or TIFF whose header can be read; nothing for any other file,
    // a header this reader does not know, or sizes the decoder would refuse.
    static std::optional<QSize> ReadSize(const QString& path);
    // The same; tooLarge tells whether the header names more pixels or a longer side than the decoder
    // takes, so that such a file can be refused without decoding it.
    static std::optional<QSize> ReadSize(const QString& path, bool& tooLarge);
};
