#pragma once

#include "LumoraExport/ExportData.h"

#include <QString>

// Reads a project folder for an export without opening it in the core library, which would change
// it (rows of missing images are deleted there) and may have it open in the program already. The
// project database is opened read-only; the ROIs come from its lossless ROI list texts, the type
// from the catalogue of the workspace, the folder's parent.
class ProjectReader
{
public:
    enum class Status
    {
        Ok,
        // No folder, or no project database in it.
        NoProject,
        // The project database cannot be opened or read.
        Unreadable,
    };

    // The marked images (with ROIs or marked OK) and the categories of the project in folder. The type
    // is 0 when the catalogue does not name the project. An image whose stored path leads out of the
    // project's "datas" folder (by "..", a link or otherwise) is not read but listed in refusedPaths.
    // A read error on any row makes the project unreadable. error tells why on failure.
    static Status Read(const QString& folder, ExportSet& set, QString& error);
    // The type of project name in the catalogue of workspace, 0 when it cannot be read.
    static int CatalogueType(const QString& workspace, const QString& name);
};
