#pragma once

#include <opencv2/core.hpp>

#include <vector>

// Runs a network on a batch of colour images of its input size and gives its raw outputs, so that the
// decoding of those outputs is the same code whichever runtime computed them.
class NetRunner
{
public:
    virtual ~NetRunner() = default;
    // One CV_32F blob of N × C × H × W per network output, in the network's output order; empty when
    // the run failed.
    virtual std::vector<cv::Mat> Run(const std::vector<const cv::Mat*>& inputs) = 0;
};
