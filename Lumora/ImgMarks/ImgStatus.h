#pragma once

#include <QString>

// Status of an image, kept as its text in pro::ImageInfo::filter. The same texts name the folders
// a scan takes the status from.
class ImgStatus
{
public:
    ImgStatus() = delete;

    enum Code
    {
        kUnconfirmed = 0,
        kOk = 1,
        kNg = 2,
        kAddedManually = 3,
    };

    // Every code other than 1 to 3 is "待确认".
    static QString Text(int code);
    // The code a folder of this exact name gives, or -1 when the name is none of the texts.
    static int CodeOfFolder(const QString& name);
    // The nearest folder at or above folderPath that is named after a status decides; the root
    // folder's name is never looked at. 0 when none does.
    static int CodeOfPath(const QString& folderPath);
};
