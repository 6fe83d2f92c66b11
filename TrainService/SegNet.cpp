#include "TrainService/SegNet.h"

#include "TrainService/NetBlocks.h"

using trainsvc::blocks::ConvBn;
using trainsvc::blocks::Stage;
using trainsvc::blocks::UpTo;
namespace nn = torch::nn;

SegNetImpl::SegNetImpl(int numClasses, int width)
{
    const int w = width;
    m_stem = register_module("stem", Stage(3, w, 2));
    m_enc1 = register_module("enc1", Stage(w, 2 * w, 2));
    m_enc2 = register_module("enc2", Stage(2 * w, 4 * w, 2));
    m_enc3 = register_module("enc3", Stage(4 * w, 8 * w, 2));
    m_aspp1 = register_module("aspp1", ConvBn(8 * w, 4 * w, 1));
    m_aspp2 = register_module("aspp2", ConvBn(8 * w, 4 * w, 3, 1, 2));
    m_aspp3 = register_module("aspp3", ConvBn(8 * w, 4 * w, 3, 1, 4));
    // No normalisation on the pooled branch: one value per channel cannot be batch-normalised.
    m_asppPool = register_module("asppPool",
                                 nn::Sequential(nn::AdaptiveAvgPool2d(nn::AdaptiveAvgPool2dOptions(1)),
                                                nn::Conv2d(nn::Conv2dOptions(8 * w, 4 * w, 1)), nn::ReLU()));
    m_asppJoin = register_module("asppJoin", ConvBn(16 * w, 4 * w, 1));
    m_low = register_module("low", ConvBn(2 * w, w, 1));
    m_dec1 = register_module("dec1", Stage(5 * w, 2 * w, 1));
    m_dec2 = register_module("dec2", ConvBn(3 * w, w, 3));
    m_head = register_module("head", nn::Conv2d(nn::Conv2dOptions(w, numClasses + 1, 1)));
}

torch::Tensor SegNetImpl::forward(const torch::Tensor& x)
{
    const torch::Tensor half = m_stem->forward(x);
    const torch::Tensor quarter = m_enc1->forward(half);
    const torch::Tensor deep = m_enc3->forward(m_enc2->forward(quarter));
    const torch::Tensor pooled = m_asppPool->forward(deep).expand({-1, -1, deep.size(2), deep.size(3)});
    torch::Tensor y = m_asppJoin->forward(
        torch::cat({m_aspp1->forward(deep), m_aspp2->forward(deep), m_aspp3->forward(deep), pooled}, 1));
    y = m_dec1->forward(torch::cat({UpTo(y, quarter), m_low->forward(quarter)}, 1));
    y = m_dec2->forward(torch::cat({UpTo(y, half), half}, 1));
    namespace F = torch::nn::functional;
    return F::interpolate(m_head->forward(y), F::InterpolateFuncOptions()
                                                  .size(std::vector<int64_t>{x.size(2), x.size(3)})
                                                  .mode(torch::kBilinear)
                                                  .align_corners(false));
}
