#pragma once

#include <QSize>
#include <QString>

#include <opencv2/core/mat.hpp>

// Reads image files so that no file, however damaged or large its header claims it is, takes the
// program down: a header naming more pixels than the decoder takes is refused before decoding, and
// whatever the decoder throws is caught. Every image our programs read goes through here.
class ImageDecode
{
public:
    // The decoded image with cv::imread's flags; an empty matrix for a missing, unreadable or refused file.
    static cv::Mat Read(const QString& path, int flags);
    // Columns and rows as colour decoding gives them, from the header where it can be read, else from
    // decoding; an empty size for a missing, unreadable or refused file.
    static QSize Size(const QString& path);
};
