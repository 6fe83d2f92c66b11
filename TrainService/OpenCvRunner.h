#pragma once

#include "TrainService/NetRunner.h"

#include <opencv2/dnn.hpp>

#include <string>

// A network exported as an ONNX model, run by OpenCV's DNN module on the CPU.
class OpenCvRunner : public NetRunner
{
public:
    // Reads a serialised model (see OnnxModel.h); false with the reason in error.
    bool Load(const std::string& bytes, bool detection, std::string& error);
    std::vector<cv::Mat> Run(const std::vector<const cv::Mat*>& inputs) override;

private:
    cv::dnn::Net m_net;
    std::vector<std::string> m_outputs;
};
