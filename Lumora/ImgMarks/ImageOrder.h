#pragma once

#include "Nexil/ImageInfo.h"

#include <QString>

// How the lists order and recognise image files.
namespace ImageOrder
{
// A key whose plain text order is the natural order of paths, folder by folder: the images of a
// folder stay together, sorted by file name with digit runs compared by their value (img_2 before
// img_10) and letters without case. Equal keys fall back to the path as written, so no two files
// share a place. A scan walks folders in this order, so its rows arrive almost sorted.
QString SortKey(const QString& path);
// The record's kept sortKey when it was made for its present path, else SortKey(img.path).
QString SortKeyOf(const pro::ImageInfo& img);
// The form two paths are compared in: absolute and cleaned, without case where the file system
// has none.
QString PathKey(const QString& path);
} // namespace ImageOrder
