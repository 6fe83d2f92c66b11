#include "TrainService/DetNet.h"

#include "TrainService/NetBlocks.h"

#include <cmath>

using trainsvc::blocks::ConvBn;
using trainsvc::blocks::Stage;
using trainsvc::blocks::UpTo;
namespace nn = torch::nn;

DetNetImpl::DetNetImpl(int numClasses, int width)
{
    const int w = width;
    m_stem = register_module("stem", Stage(3, w, 2));
    m_enc1 = register_module("enc1", Stage(w, 2 * w, 2));
    m_enc2 = register_module("enc2", Stage(2 * w, 4 * w, 2));
    m_enc3 = register_module("enc3", Stage(4 * w, 8 * w, 2, 2));
    m_lat2 = register_module("lat2", ConvBn(4 * w, 4 * w, 1));
    m_lat1 = register_module("lat1", ConvBn(2 * w, 2 * w, 1));
    m_up2 = register_module("up2", ConvBn(8 * w + 4 * w, 4 * w, 3));
    m_up1 = register_module("up1", ConvBn(4 * w + 2 * w, 2 * w, 3));
    m_trunk = register_module("trunk", ConvBn(2 * w, 2 * w, 3));
    m_heat = register_module("heat", nn::Conv2d(nn::Conv2dOptions(2 * w, numClasses, 1)));
    m_size = register_module("size", nn::Conv2d(nn::Conv2dOptions(2 * w, 2, 1)));
    m_offset = register_module("offset", nn::Conv2d(nn::Conv2dOptions(2 * w, 2, 1)));
    // Start with a centre probability of about 0.1 so that the focal loss does not drown in the
    // background cells of the first batches.
    torch::NoGradGuard noGrad;
    m_heat->bias.fill_(-std::log((1.0 - 0.1) / 0.1));
}

std::vector<torch::Tensor> DetNetImpl::forward(const torch::Tensor& x)
{
    const torch::Tensor quarter = m_enc1->forward(m_stem->forward(x));
    const torch::Tensor eighth = m_enc2->forward(quarter);
    const torch::Tensor deep = m_enc3->forward(eighth);
    torch::Tensor y = m_up2->forward(torch::cat({UpTo(deep, eighth), m_lat2->forward(eighth)}, 1));
    y = m_up1->forward(torch::cat({UpTo(y, quarter), m_lat1->forward(quarter)}, 1));
    y = m_trunk->forward(y);
    return {m_heat->forward(y), m_size->forward(y), m_offset->forward(y)};
}
