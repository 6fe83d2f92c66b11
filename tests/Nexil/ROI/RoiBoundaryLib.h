#pragma once

#include "Nexil/ROI/ROIItem.h"

#include <QtGlobal>

#include <memory>
#include <typeinfo>

#if defined(ROI_BOUNDARY_LIBRARY)
#define ROI_BOUNDARY_EXPORT Q_DECL_EXPORT
#else
#define ROI_BOUNDARY_EXPORT Q_DECL_IMPORT
#endif

// A stand-in for Nexil: a hidden-visibility shared library that carries its own copy of the ROI
// code and exports only these functions.
ROI_BOUNDARY_EXPORT ROIList RoiBoundary_Parse(const QString& roiListText);
ROI_BOUNDARY_EXPORT QString RoiBoundary_BuildRoiListText(const ROIList& rois);
ROI_BOUNDARY_EXPORT QString RoiBoundary_BuildAnnotationFileText(const ROIList& rois);
// The library's own view of a ROI made elsewhere: kind() through its cross-cast, -1 if that fails.
ROI_BOUNDARY_EXPORT int RoiBoundary_Kind(const ROIItem& roi);
ROI_BOUNDARY_EXPORT std::unique_ptr<ROIItem> RoiBoundary_Clone(const ROIItem& roi);
// The library's type information of its RectROIItem, to tell the two copies apart.
ROI_BOUNDARY_EXPORT const std::type_info& RoiBoundary_RectItemType();
