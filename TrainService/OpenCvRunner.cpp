#include "TrainService/OpenCvRunner.h"

#include "TrainService/Predictor.h"

bool OpenCvRunner::Load(const std::string& bytes, bool detection, std::string& error)
{
    try
    {
        m_net = cv::dnn::readNetFromONNX(bytes.data(), bytes.size());
        m_net.setPreferableBackend(cv::dnn::DNN_BACKEND_OPENCV);
        m_net.setPreferableTarget(cv::dnn::DNN_TARGET_CPU);
        m_outputs = detection ? std::vector<std::string>{"heatmap", "size", "offset"}
                              : std::vector<std::string>{"logits"};
        return !m_net.empty();
    }
    catch (const cv::Exception& e)
    {
        error = e.what();
        return false;
    }
}

std::vector<cv::Mat> OpenCvRunner::Run(const std::vector<const cv::Mat*>& inputs)
{
    using trainsvc::predict::kInputMean;
    using trainsvc::predict::kInputStd;
    try
    {
        std::vector<cv::Mat> images;
        for (const cv::Mat* image : inputs)
            images.push_back(*image);
        // (pixel / 255 - mean) / std = (pixel - 255 mean) / (255 std).
        const cv::Mat blob =
            cv::dnn::blobFromImages(images, 1.0 / (255.0 * kInputStd), cv::Size(),
                                    cv::Scalar::all(255.0 * kInputMean), false, false, CV_32F);
        m_net.setInput(blob, "image");
        std::vector<cv::Mat> outputs;
        m_net.forward(outputs, m_outputs);
        // The outputs live in the network's buffers until its next run.
        for (cv::Mat& out : outputs)
            out = out.clone();
        return outputs;
    }
    catch (const cv::Exception&)
    {
        return {};
    }
}
