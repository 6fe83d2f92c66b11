#pragma once

#include <torch/nn.h>

// Compact anchor-free one-stage detector: the same four-stage encoder as the segmentation network, a
// small feature pyramid back to 1/4 of the input, and three heads per cell of that map: a centre
// heatmap per class, the box size and the sub-cell offset of the centre.
class DetNetImpl : public torch::nn::Module
{
public:
    static constexpr int kStride = 4;

    DetNetImpl(int numClasses, int width);
    // Heatmap logits (N × classes), sizes (N × 2) and offsets (N × 2), all at 1/4 of the input.
    std::vector<torch::Tensor> forward(const torch::Tensor& x);

private:
    torch::nn::Sequential m_stem{nullptr}, m_enc1{nullptr}, m_enc2{nullptr}, m_enc3{nullptr};
    torch::nn::Sequential m_lat2{nullptr}, m_lat1{nullptr}, m_up2{nullptr}, m_up1{nullptr}, m_trunk{nullptr};
    torch::nn::Conv2d m_heat{nullptr}, m_size{nullptr}, m_offset{nullptr};
};
TORCH_MODULE(DetNet);
