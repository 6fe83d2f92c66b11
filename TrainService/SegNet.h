#pragma once

#include <torch/nn.h>

// Compact encoder-decoder of the DeepLabV3+ family: a four-stage convolutional encoder down to 1/16,
// atrous spatial pyramid pooling on its last map, and a decoder that joins the pooled features with
// the 1/4 map and then the 1/2 map so that thin scratches keep their shape.
class SegNetImpl : public torch::nn::Module
{
public:
    SegNetImpl(int numClasses, int width);
    // Logits of background and each class at the input's size.
    torch::Tensor forward(const torch::Tensor& x);

private:
    torch::nn::Sequential m_stem{nullptr}, m_enc1{nullptr}, m_enc2{nullptr}, m_enc3{nullptr};
    torch::nn::Sequential m_aspp1{nullptr}, m_aspp2{nullptr}, m_aspp3{nullptr}, m_asppPool{nullptr};
    torch::nn::Sequential m_asppJoin{nullptr}, m_low{nullptr}, m_dec1{nullptr}, m_dec2{nullptr};
    torch::nn::Conv2d m_head{nullptr};
};
TORCH_MODULE(SegNet);
