#pragma once

#include <torch/nn.h>

// Building blocks of the service's networks (torch side only).
namespace trainsvc::blocks
{

inline torch::nn::Conv2d Conv(int in, int out, int kernel, int stride, int dilation)
{
    return torch::nn::Conv2d(torch::nn::Conv2dOptions(in, out, kernel)
                                 .stride(stride)
                                 .padding(dilation * (kernel / 2))
                                 .dilation(dilation)
                                 .bias(false));
}

// Convolution, batch normalisation and ReLU; padding keeps the size at stride 1.
inline torch::nn::Sequential ConvBn(int in, int out, int kernel, int stride = 1, int dilation = 1)
{
    namespace nn = torch::nn;
    return nn::Sequential(Conv(in, out, kernel, stride, dilation), nn::BatchNorm2d(out),
                          nn::ReLU(nn::ReLUOptions(true)));
}

// Two 3 × 3 blocks, the first with the stride, the second with the dilation; flat, because a
// Sequential cannot hold another one.
inline torch::nn::Sequential Stage(int in, int out, int stride, int dilation = 1)
{
    namespace nn = torch::nn;
    return nn::Sequential(Conv(in, out, 3, stride, 1), nn::BatchNorm2d(out), nn::ReLU(nn::ReLUOptions(true)),
                          Conv(out, out, 3, 1, dilation), nn::BatchNorm2d(out),
                          nn::ReLU(nn::ReLUOptions(true)));
}

// Nearest-neighbour upsampling to a given size: a transposed convolution would run on the slow
// reference BLAS path of this libtorch.
inline torch::Tensor UpTo(const torch::Tensor& x, const torch::Tensor& like)
{
    namespace F = torch::nn::functional;
    return F::interpolate(x, F::InterpolateFuncOptions()
                                 .size(std::vector<int64_t>{like.size(2), like.size(3)})
                                 .mode(torch::kNearest));
}

} // namespace trainsvc::blocks
