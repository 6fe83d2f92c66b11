# Sources of the ROI model and the annotation texts, compiled into both deliverables.
set(NEXIL_ROI_SOURCES
)
