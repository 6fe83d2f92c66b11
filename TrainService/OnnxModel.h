#pragma once

#include "TrainService/SampleTypes.h"

#include <string>
#include <utility>
#include <vector>

// A trained network as an ONNX model that other runtimes read: built node by node from the network's
// parameters (batch normalisation folded into the convolutions), at a fixed opset that OpenCV's DNN
// module reads. The model's input is "image", 1 × 3 × size × size, normalised as Predictor.h says;
// a segmentation network gives "logits" at the input size, a detector "heatmap", "size" and "offset"
// at a quarter of it.
namespace trainsvc::onnxmodel
{

using Metadata = std::vector<std::pair<std::string, std::string>>;

inline constexpr int kOpset = 13;

// The serialised model; false with the reason in error when the parameters do not fit the layout.
bool Build(const NetLayout& layout, const std::vector<NamedTensor>& state, const Metadata& metadata,
           std::string& bytes, std::string& error);
// Whether the serialised model passes the ONNX checker; false with its message in error.
bool Check(const std::string& bytes, std::string& error);
// The key/value metadata of a serialised model.
bool ReadMetadata(const std::string& bytes, Metadata& metadata, std::string& error);

} // namespace trainsvc::onnxmodel
