#pragma once

#include <QList>
#include <QMetaType>
#include <QString>

#include <memory>

class ROIItem;

namespace pro
{

// One image of a project. Made with std::make_shared and shared between the library and the program.
struct ImageInfo
{
    QString id;
    // Absolute path: the user's source file until the copy is confirmed, then the copy in the project.
    QString path;
    QString fileName;
    // Annotation shapes in drawing order.
    QList<std::shared_ptr<ROIItem>> rois;
    bool markAsOK = false;
    // Import batch stamp, the folder name under "/datas".
    QString addTime;
    // Status text given by the program, stored as is.
    QString filter;
    // Has ROIs or is marked OK.
    bool marked = false;
    QString prjPath;
    // Path relative to the project directory, beginning with "/datas".
    QString image;
    // Used by the program's lists only.
    bool checked = false;
    // The user's file the image was taken from (absolute); empty for images stored before it was kept.
    QString source;
    // Used by the program's lists only: the sort key of path, kept by whoever made it first.
    QString sortKey;
};

} // namespace pro

Q_DECLARE_METATYPE(std::shared_ptr<pro::ImageInfo>)
