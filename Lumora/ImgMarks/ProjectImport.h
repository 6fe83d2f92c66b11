#pragma once

#include "Nexil/ImageInfo.h"

#include <QList>

#include <memory>

// The GUI thread's half of an import: a batch from LoadImgWork may hold records whose annotation
// file was taken (marked, no id yet). They are added to the open project here, with their ROIs and
// categories, before the batch reaches the lists.
class ProjectImport
{
public:
    ProjectImport() = delete;

    // Replaces each record that arrived with a project image's id by that image's own record, so
    // a file the project holds is shown and stored as that one image; returns how many. A record
    // whose image has gone from the project meanwhile loses the id and counts as new.
    static int UseProjectRecords(QList<std::shared_ptr<pro::ImageInfo>>& images);
    // Returns how many records were added. Without an open project the records stay listed as
    // not annotated.
    static int AddToProject(const QList<std::shared_ptr<pro::ImageInfo>>& images);
};
