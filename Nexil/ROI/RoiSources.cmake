# Sources of the ROI model and the annotation texts, compiled into both deliverables.
set(NEXIL_ROI_SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/ROI.h
    ${CMAKE_CURRENT_LIST_DIR}/ROI.cpp
    ${CMAKE_CURRENT_LIST_DIR}/RectROI.h
    ${CMAKE_CURRENT_LIST_DIR}/RectROI.cpp
    ${CMAKE_CURRENT_LIST_DIR}/PolygonROI.h
    ${CMAKE_CURRENT_LIST_DIR}/PolygonROI.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ROIItem.h
    ${CMAKE_CURRENT_LIST_DIR}/ROIItem.cpp
    ${CMAKE_CURRENT_LIST_DIR}/RectROIItem.h
    ${CMAKE_CURRENT_LIST_DIR}/RectROIItem.cpp
    ${CMAKE_CURRENT_LIST_DIR}/PolygonROIItem.h
    ${CMAKE_CURRENT_LIST_DIR}/PolygonROIItem.cpp
    ${CMAKE_CURRENT_LIST_DIR}/AnnotationText.h
    ${CMAKE_CURRENT_LIST_DIR}/AnnotationText.cpp
)
