#pragma once

#include <QString>

// How the lists order and recognise image files.
namespace ImageOrder
{
// A key whose plain text order is the natural order of file names: digit runs compare by their
// value (img_2 before img_10), letters without case; equal names fall back to the name as written,
// then to the path, so no two files share a place.
QString SortKey(const QString& fileName, const QString& path);
// The form two paths are compared in: absolute and cleaned, without case where the file system
// has none.
QString PathKey(const QString& path);
} // namespace ImageOrder
