#pragma once

#include "TrainService/SampleTypes.h"

// Conversions between annotation shapes and what the networks see: square inputs, label maps and
// boxes at the input size, and back from predicted label maps to polygons.
namespace trainsvc::raster
{

// Colour image (3 channels, 8 bits); empty when the file cannot be read. Files of more than 8 bits
// are mapped through the window between the given quantiles of their samples.
cv::Mat ReadImage(const std::string& path, const IntensityWindow& window = IntensityWindow());

// The image stretched to size × size; the networks take square inputs.
cv::Mat ResizeInput(const cv::Mat& image, int size);

// Label map of size × size (0 background, c + 1 class c) from shapes given in pixels of an image of
// imageSize; later shapes cover earlier ones, as they were drawn.
cv::Mat RasterMask(const std::vector<Shape>& shapes, cv::Size imageSize, int size);
// The same at any target size.
cv::Mat RasterMask(const std::vector<Shape>& shapes, cv::Size imageSize, cv::Size target);

// Bounding boxes of the shapes at size × size, clipped to the square; shapes left empty are dropped.
std::vector<Box> ShapeBoxes(const std::vector<Shape>& shapes, cv::Size imageSize, int size);
// The same at any target size.
std::vector<Box> ShapeBoxes(const std::vector<Shape>& shapes, cv::Size imageSize, cv::Size target);

// Polygons traced around each class's regions of a label map (outer borders, simplified to about one
// pixel); regions smaller than minArea pixels are left out as noise. With a probability map (CV_32F,
// the predicted label's probability per pixel) each shape's score is the highest inside it.
std::vector<Shape> MaskToShapes(const cv::Mat& labels, double minArea,
                                const cv::Mat& probability = cv::Mat());

// Rectangle shapes of boxes, with their scores.
std::vector<Shape> BoxesToShapes(const std::vector<Box>& boxes);

// Whether any shape of class cls in a covers a pixel that a shape of cls in b covers too.
bool ClassOverlaps(const std::vector<Shape>& a, const std::vector<Shape>& b, int cls, cv::Size imageSize);

} // namespace trainsvc::raster
