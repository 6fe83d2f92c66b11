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

    // Returns how many records were added. Without an open project the records stay listed as
    // not annotated.
    static int AddToProject(const QList<std::shared_ptr<pro::ImageInfo>>& images);
};
