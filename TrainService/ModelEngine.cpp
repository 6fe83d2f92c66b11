#include "TrainService/ModelEngine.h"

#include "TrainService/DetNet.h"
#include "TrainService/Predictor.h"
#include "TrainService/Raster.h"
#include "TrainService/SegNet.h"
#include "TrainService/Tiling.h"

#include <ATen/Context.h>
#include <ATen/Parallel.h>
#include <c10/core/InferenceMode.h>
#include <opencv2/imgproc.hpp>
#include <torch/cuda.h>
#include <torch/optim.h>
#include <torch/serialize.h>
#include <torch/version.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <numeric>
#include <random>
#include <string>

using namespace trainsvc;
namespace F = torch::nn::functional;

namespace
{

constexpr double kWeightDecay = 1e-4;
constexpr int kMaxWarmupSteps = 100;
// Share of the steps warming up, and of the base rate the cosine decays to.
constexpr double kWarmupShare = 0.1;
constexpr double kFinalRateShare = 0.05;
constexpr float kFlipChance = 0.5f;
constexpr double kContrastSpread = 0.3;
constexpr double kBrightnessSpread = 30.0;
// A tile crop is centred near a defect this often when the image has one: most of a large image is
// background, and thin defects would be seen too rarely.
constexpr float kDefectCropShare = 0.7f;
// Crops drawn from a tiled image per epoch, at most.
constexpr int kMaxCropsPerImage = 4;
// A box cut by a crop stays a target when this share of it lies inside.
constexpr float kMinVisibleShare = 0.4f;

// One training image at the network's input size with its target.
struct Prepared
{
    cv::Mat image;
    cv::Mat labels;
    std::vector<Box> boxes;
};

// One training image as loaded: stretched to the input, or at the tile scale (padded to at least the
// input per side) to be cropped anew every epoch.
struct Source
{
    Prepared whole;
    bool tiled = false;
    // Tiled: the defects' bounding boxes, where crops are centred most of the time.
    std::vector<cv::Rect> defects;
    int crops = 1;
};

// The random draws of a run come straight from the engine's output, which the standard fixes, so that
// a seed gives the same run with any standard library (its distributions may differ).
float Unit(std::mt19937& rng)
{
    return float(rng() >> 8) * (1.0f / 16777216.0f);
}

int Below(std::mt19937& rng, int n)
{
    return n <= 1 ? 0 : int(rng() % uint32_t(n));
}

void Shuffle(std::vector<size_t>& order, std::mt19937& rng)
{
    for (size_t i = order.size(); i > 1; --i)
        std::swap(order[i - 1], order[size_t(Below(rng, int(i)))]);
}

// Mirrors, brightness and contrast: industrial sets are small and lit unevenly.
Prepared Augment(const Prepared& in, std::mt19937& rng)
{
    Prepared out{in.image.clone(), in.labels.empty() ? cv::Mat() : in.labels.clone(), in.boxes};
    const float size = float(in.image.cols);
    for (const int axis : {1, 0})
    {
        if (Unit(rng) >= kFlipChance)
            continue;
        cv::flip(out.image, out.image, axis);
        if (!out.labels.empty())
            cv::flip(out.labels, out.labels, axis);
        for (Box& box : out.boxes)
        {
            if (axis == 1)
                box.rect.x = size - box.rect.x - box.rect.width;
            else
                box.rect.y = size - box.rect.y - box.rect.height;
        }
    }
    const double alpha = 1.0 - kContrastSpread / 2 + kContrastSpread * Unit(rng);
    const double beta = kBrightnessSpread * (Unit(rng) - 0.5);
    out.image.convertTo(out.image, -1, alpha, beta);
    return out;
}

// A crop of the input's size from a tiled source, centred near a defect most of the time; boxes are
// clipped to it and kept when enough of them shows.
Prepared Crop(const Source& source, int tile, std::mt19937& rng)
{
    const cv::Size area = source.whole.image.size();
    int x = Below(rng, area.width - tile + 1);
    int y = Below(rng, area.height - tile + 1);
    if (!source.defects.empty() && Unit(rng) < kDefectCropShare)
    {
        const cv::Rect& defect = source.defects[size_t(Below(rng, int(source.defects.size())))];
        const cv::Point centre = (defect.tl() + defect.br()) / 2;
        x = std::clamp(centre.x - Below(rng, tile), 0, area.width - tile);
        y = std::clamp(centre.y - Below(rng, tile), 0, area.height - tile);
    }
    const cv::Rect rect(x, y, tile, tile);
    Prepared out;
    out.image = source.whole.image(rect).clone();
    if (!source.whole.labels.empty())
        out.labels = source.whole.labels(rect).clone();
    const cv::Rect2f frame(rect);
    for (const Box& box : source.whole.boxes)
    {
        const cv::Rect2f inside = box.rect & frame;
        if (inside.area() > 0.0f && inside.area() >= kMinVisibleShare * box.rect.area())
            out.boxes.push_back({box.cls, box.score, inside - frame.tl()});
    }
    return out;
}

torch::Tensor ToInput(const std::vector<const cv::Mat*>& images, const torch::Device& device)
{
    std::vector<torch::Tensor> items;
    for (const cv::Mat* image : images)
    {
        const cv::Mat m = image->isContinuous() ? *image : image->clone();
        items.push_back(
            torch::from_blob(m.data, {m.rows, m.cols, 3}, torch::kUInt8).permute({2, 0, 1}).clone());
    }
    const torch::Tensor x = torch::stack(items).to(device).to(torch::kFloat).div_(255.0).sub_(0.5).div_(0.25);
    // Channels-last convolutions run about a third faster on this CPU path.
    return x.contiguous(torch::MemoryFormat::ChannelsLast);
}

torch::Tensor SegTarget(const std::vector<const cv::Mat*>& labels, const torch::Device& device)
{
    std::vector<torch::Tensor> items;
    for (const cv::Mat* m : labels)
        items.push_back(torch::from_blob(m->data, {m->rows, m->cols}, torch::kUInt8).clone());
    return torch::stack(items).to(device).to(torch::kLong);
}

// Cross-entropy for every pixel plus a soft Dice term over the defect classes, which keeps small
// defects from vanishing into the background.
torch::Tensor SegLoss(const torch::Tensor& logits, const torch::Tensor& target)
{
    const int64_t classes = logits.size(1);
    const torch::Tensor ce = F::cross_entropy(logits, target);
    if (classes < 2)
        return ce;
    const torch::Tensor probs = logits.softmax(1).slice(1, 1);
    const torch::Tensor truth =
        F::one_hot(target, classes).permute({0, 3, 1, 2}).slice(1, 1).to(torch::kFloat);
    const torch::Tensor inter = (probs * truth).sum({0, 2, 3});
    const torch::Tensor dice =
        1.0 - (2.0 * inter + 1.0) / (probs.sum({0, 2, 3}) + truth.sum({0, 2, 3}) + 1.0);
    return ce + dice.mean();
}

struct DetTargets
{
    torch::Tensor heat, size, offset, mask;
};

// Gaussian centre heatmaps (peak exactly 1 at the centre cell), box sizes and centre offsets in cells.
DetTargets MakeDetTargets(const std::vector<const std::vector<Box>*>& boxes, int classes, int outSize,
                          const torch::Device& device)
{
    const int n = int(boxes.size());
    const int plane = outSize * outSize;
    std::vector<float> heat(size_t(n) * classes * plane, 0.0f), size(size_t(n) * 2 * plane, 0.0f),
        offset(size_t(n) * 2 * plane, 0.0f), mask(size_t(n) * plane, 0.0f);
    const float stride = float(DetNetImpl::kStride);
    for (int i = 0; i < n; ++i)
    {
        for (const Box& box : *boxes[size_t(i)])
        {
            const float cx = (box.rect.x + box.rect.width / 2) / stride;
            const float cy = (box.rect.y + box.rect.height / 2) / stride;
            const int ix = std::clamp(int(cx), 0, outSize - 1);
            const int iy = std::clamp(int(cy), 0, outSize - 1);
            const float sx = std::max(0.6f, box.rect.width / stride / 6.0f);
            const float sy = std::max(0.6f, box.rect.height / stride / 6.0f);
            float* h = heat.data() + (size_t(i) * classes + box.cls) * plane;
            const int rx = int(std::ceil(3 * sx)), ry = int(std::ceil(3 * sy));
            for (int y = std::max(0, iy - ry); y <= std::min(outSize - 1, iy + ry); ++y)
            {
                for (int x = std::max(0, ix - rx); x <= std::min(outSize - 1, ix + rx); ++x)
                {
                    const float dx = float(x - ix), dy = float(y - iy);
                    const float g = std::exp(-(dx * dx / (2 * sx * sx) + dy * dy / (2 * sy * sy)));
                    h[y * outSize + x] = std::max(h[y * outSize + x], g);
                }
            }
            const size_t cell = size_t(iy * outSize + ix);
            // Sizes in log space: the same relative error costs the same for a spot and a long scratch.
            size[(size_t(i) * 2) * plane + cell] = std::log(std::max(box.rect.width / stride, 0.25f));
            size[(size_t(i) * 2 + 1) * plane + cell] = std::log(std::max(box.rect.height / stride, 0.25f));
            offset[(size_t(i) * 2) * plane + cell] = cx - float(ix);
            offset[(size_t(i) * 2 + 1) * plane + cell] = cy - float(iy);
            mask[size_t(i) * plane + cell] = 1.0f;
        }
    }
    auto tensor = [&device](std::vector<float>& v, std::vector<int64_t> shape)
    { return torch::from_blob(v.data(), shape, torch::kFloat).clone().to(device); };
    return {tensor(heat, {n, classes, outSize, outSize}), tensor(size, {n, 2, outSize, outSize}),
            tensor(offset, {n, 2, outSize, outSize}), tensor(mask, {n, 1, outSize, outSize})};
}

// Focal loss on the heatmaps, L1 on log sizes and on offsets at the centres.
torch::Tensor DetLoss(const std::vector<torch::Tensor>& out, const DetTargets& t)
{
    const torch::Tensor pred = out[0].sigmoid().clamp(1e-4, 1.0 - 1e-4);
    const torch::Tensor pos = t.heat.eq(1.0f).to(torch::kFloat);
    const torch::Tensor neg = 1.0 - pos;
    const torch::Tensor posLoss = (pred.log() * (1.0 - pred).pow(2) * pos).sum();
    const torch::Tensor negLoss = ((1.0 - pred).log() * pred.pow(2) * (1.0 - t.heat).pow(4) * neg).sum();
    const torch::Tensor count = t.mask.sum().clamp_min(1.0);
    const torch::Tensor focal = -(posLoss + negLoss) / count;
    const torch::Tensor sizeLoss = ((out[1] - t.size).abs() * t.mask).sum() / count;
    const torch::Tensor offsetLoss = ((out[2] - t.offset).abs() * t.mask).sum() / count;
    return focal + sizeLoss + offsetLoss;
}

void ToChannelsLast(torch::nn::Module& module)
{
    torch::NoGradGuard noGrad;
    for (torch::Tensor& p : module.parameters())
    {
        if (p.dim() == 4)
            p.set_data(p.data().contiguous(torch::MemoryFormat::ChannelsLast));
    }
}

} // namespace

struct ModelEngine::Impl
{
    NetLayout layout;
    SegNet seg{nullptr};
    DetNet det{nullptr};
    torch::Device device{torch::kCPU};

    torch::nn::Module& Net() { return layout.detection ? static_cast<torch::nn::Module&>(*det) : *seg; }

    void Build(const NetLayout& s)
    {
        layout = s;
        seg = nullptr;
        det = nullptr;
        if (layout.detection)
            det = DetNet(layout.numClasses, layout.width);
        else
            seg = SegNet(layout.numClasses, layout.width);
        Net().to(device);
        ToChannelsLast(Net());
    }

    std::vector<Source> Load(const std::vector<Sample>& samples, const IntensityWindow& window) const
    {
        std::vector<Source> out;
        const int tile = layout.inputSize;
        for (const Sample& sample : samples)
        {
            const cv::Mat image = raster::ReadImage(sample.imagePath, window);
            if (image.empty())
                continue;
            Source source;
            source.tiled = tiling::UsesTiles(image.size(), layout);
            if (!source.tiled)
            {
                source.whole.image = raster::ResizeInput(image, tile);
                if (layout.detection)
                    source.whole.boxes = raster::ShapeBoxes(sample.shapes, image.size(), tile);
                else
                    source.whole.labels = raster::RasterMask(sample.shapes, image.size(), tile);
                out.push_back(std::move(source));
                continue;
            }
            const cv::Size scaled = tiling::ScaledSize(image.size(), layout.tileScale);
            source.whole.image = predict::TileArea(image, layout.tileScale, tile);
            const cv::Size area = source.whole.image.size();
            if (layout.detection)
            {
                source.whole.boxes = raster::ShapeBoxes(sample.shapes, image.size(), scaled);
            }
            else
            {
                source.whole.labels = cv::Mat::zeros(area, CV_8U);
                raster::RasterMask(sample.shapes, image.size(), scaled)
                    .copyTo(source.whole.labels(cv::Rect(cv::Point(), scaled)));
            }
            for (const Box& box : raster::ShapeBoxes(sample.shapes, image.size(), scaled))
                source.defects.push_back(cv::Rect(box.rect));
            source.crops =
                std::min(kMaxCropsPerImage, int(tiling::TileRects(area, tile, tiling::Overlap(tile)).size()));
            out.push_back(std::move(source));
        }
        return out;
    }

    // The validation images: stretched ones whole, tiled ones by crops drawn once from a fixed seed.
    std::vector<Prepared> ValidationSet(const std::vector<Source>& sources, unsigned seed) const
    {
        std::mt19937 rng(seed);
        std::vector<Prepared> out;
        for (const Source& source : sources)
        {
            if (!source.tiled)
                out.push_back(source.whole);
            for (int i = 0; source.tiled && i < source.crops; ++i)
                out.push_back(Crop(source, layout.inputSize, rng));
        }
        return out;
    }

    torch::Tensor BatchLoss(const std::vector<const Prepared*>& batch)
    {
        std::vector<const cv::Mat*> images;
        for (const Prepared* p : batch)
            images.push_back(&p->image);
        const torch::Tensor x = ToInput(images, device);
        if (!layout.detection)
        {
            std::vector<const cv::Mat*> labels;
            for (const Prepared* p : batch)
                labels.push_back(&p->labels);
            return SegLoss(seg->forward(x), SegTarget(labels, device));
        }
        std::vector<const std::vector<Box>*> boxes;
        for (const Prepared* p : batch)
            boxes.push_back(&p->boxes);
        const DetTargets t =
            MakeDetTargets(boxes, layout.numClasses, layout.inputSize / DetNetImpl::kStride, device);
        return DetLoss(det->forward(x), t);
    }

    double Validate(const std::vector<Prepared>& val, int batchSize)
    {
        torch::NoGradGuard noGrad;
        Net().eval();
        double sum = 0.0;
        for (size_t start = 0; start < val.size(); start += size_t(batchSize))
        {
            std::vector<const Prepared*> batch;
            for (size_t i = start; i < std::min(val.size(), start + size_t(batchSize)); ++i)
                batch.push_back(&val[i]);
            sum += BatchLoss(batch).item<double>() * double(batch.size());
        }
        Net().train();
        return sum / double(val.size());
    }
};

ModelEngine::ModelEngine() : d(std::make_unique<Impl>())
{
#ifdef TRAINSERVICE_CUDA
    if (torch::cuda::is_available())
        d->device = torch::Device(torch::kCUDA);
#endif
}

ModelEngine::~ModelEngine() = default;

void ModelEngine::Create(const NetLayout& layout, unsigned seed)
{
    torch::manual_seed(seed);
    d->Build(layout);
}

bool ModelEngine::Train(const std::vector<Sample>& train, const std::vector<Sample>& val,
                        const TrainSettings& settings, const ProgressFn& progress,
                        const std::atomic_bool& cancel, std::vector<EpochLoss>& history, std::string& error)
{
    try
    {
        // The same seed, thread count and data give the same weights: reductions split by thread.
        at::set_num_threads(std::max(1, settings.threads));
        at::globalContext().setDeterministicAlgorithms(true, true);
        torch::manual_seed(settings.seed);
        std::mt19937 rng(settings.seed);
        const std::vector<Source> trainSet = d->Load(train, settings.window);
        const std::vector<Prepared> valSet =
            d->ValidationSet(d->Load(val, settings.window), settings.seed + 1);
        if (trainSet.empty())
        {
            error = "no readable training images";
            return false;
        }
        // One entry per image, a tiled image once per crop it gives.
        std::vector<size_t> order;
        for (size_t i = 0; i < trainSet.size(); ++i)
            order.insert(order.end(), size_t(trainSet[i].crops), i);
        const int batchSize = std::max(1, settings.batchSize);
        const int allBatch = int((order.size() + size_t(batchSize) - 1) / size_t(batchSize));
        const int totalSteps = allBatch * settings.epochs;
        const int warmup = std::min(kMaxWarmupSteps, std::max(1, int(totalSteps * kWarmupShare)));
        torch::optim::AdamW optimizer(
            d->Net().parameters(),
            torch::optim::AdamWOptions(settings.learningRate).weight_decay(kWeightDecay));
        d->Net().train();
        const auto started = std::chrono::steady_clock::now();
        TrainProgress state;
        state.allBatch = allBatch;
        int step = 0;
        for (int epoch = 0; epoch < settings.epochs; ++epoch)
        {
            Shuffle(order, rng);
            double sum = 0.0;
            for (int b = 0; b < allBatch; ++b)
            {
                if (cancel)
                {
                    error = "cancelled";
                    return false;
                }
                std::vector<Prepared> augmented;
                for (size_t i = size_t(b) * batchSize; i < std::min(order.size(), size_t(b + 1) * batchSize);
                     ++i)
                {
                    const Source& source = trainSet[order[i]];
                    augmented.push_back(
                        Augment(source.tiled ? Crop(source, d->layout.inputSize, rng) : source.whole, rng));
                }
                std::vector<const Prepared*> batch;
                for (const Prepared& p : augmented)
                    batch.push_back(&p);
                // Linear warm-up, then cosine decay to a share of the base rate.
                const double t = double(step) / double(std::max(1, totalSteps));
                const double lr =
                    step < warmup
                        ? settings.learningRate * double(step + 1) / warmup
                        : settings.learningRate *
                              (kFinalRateShare + (1.0 - kFinalRateShare) * 0.5 * (1.0 + std::cos(M_PI * t)));
                for (auto& group : optimizer.param_groups())
                    static_cast<torch::optim::AdamWOptions&>(group.options()).lr(lr);
                optimizer.zero_grad();
                const torch::Tensor loss = d->BatchLoss(batch);
                loss.backward();
                optimizer.step();
                ++step;
                sum += loss.item<double>();
                state.epoch = epoch;
                state.batch = b + 1;
                state.trainLoss = sum / double(b + 1);
                const double done = double(epoch) + double(b + 1) / double(allBatch);
                const double elapsed =
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
                state.remainSeconds = elapsed / done * (double(settings.epochs) - done);
                progress(state);
            }
            state.valLoss = valSet.empty() ? state.trainLoss : d->Validate(valSet, batchSize);
            state.epoch = epoch + 1;
            state.batch = 0;
            history.push_back({epoch + 1, state.trainLoss, state.valLoss});
            progress(state);
        }
        d->Net().eval();
        return true;
    }
    catch (const std::exception& e)
    {
        error = e.what();
        return false;
    }
}

bool ModelEngine::Save(const std::string& file, std::string& error)
{
    try
    {
        // Saved from the CPU, so that a version trained on a GPU loads anywhere.
        d->Net().to(torch::kCPU);
        if (d->layout.detection)
            torch::save(d->det, file);
        else
            torch::save(d->seg, file);
        d->Net().to(d->device);
        return true;
    }
    catch (const std::exception& e)
    {
        error = e.what();
        return false;
    }
}

bool ModelEngine::Load(const NetLayout& layout, const std::string& file, std::string& error)
{
    try
    {
        d->Build(layout);
        if (layout.detection)
            torch::load(d->det, file, torch::Device(torch::kCPU));
        else
            torch::load(d->seg, file, torch::Device(torch::kCPU));
        d->Net().to(d->device);
        ToChannelsLast(d->Net());
        d->Net().eval();
        return true;
    }
    catch (const std::exception& e)
    {
        error = e.what();
        return false;
    }
}

Prediction ModelEngine::Predict(const cv::Mat& image, bool forceTiles)
{
    return predict::Predict(*this, d->layout, image, forceTiles);
}

std::vector<cv::Mat> ModelEngine::Run(const std::vector<const cv::Mat*>& inputs)
{
    try
    {
        // No autograd bookkeeping at all, not only no gradients.
        c10::InferenceMode inference;
        d->Net().eval();
        const torch::Tensor x = ToInput(inputs, d->device);
        std::vector<torch::Tensor> outputs;
        if (d->layout.detection)
            outputs = d->det->forward(x);
        else
            outputs.push_back(d->seg->forward(x));
        std::vector<cv::Mat> blobs;
        for (const torch::Tensor& t : outputs)
        {
            const torch::Tensor c = t.cpu().contiguous();
            const std::vector<int> sizes(c.sizes().begin(), c.sizes().end());
            cv::Mat blob(int(sizes.size()), sizes.data(), CV_32F);
            std::copy_n(c.data_ptr<float>(), c.numel(), blob.ptr<float>());
            blobs.push_back(blob);
        }
        return blobs;
    }
    catch (const std::exception&)
    {
        return {};
    }
}

std::vector<NamedTensor> ModelEngine::State() const
{
    std::vector<NamedTensor> state;
    torch::nn::Module& net = d->Net();
    auto add = [&state](const std::string& name, const torch::Tensor& t)
    {
        if (t.scalar_type() != torch::kFloat)
            return;
        const torch::Tensor c = t.detach().cpu().contiguous();
        NamedTensor item{name, std::vector<int64_t>(c.sizes().begin(), c.sizes().end()),
                         std::vector<float>(c.data_ptr<float>(), c.data_ptr<float>() + c.numel())};
        state.push_back(std::move(item));
    };
    for (const auto& p : net.named_parameters())
        add(p.key(), p.value());
    for (const auto& b : net.named_buffers())
        add(b.key(), b.value());
    return state;
}

const NetLayout& ModelEngine::Layout() const
{
    return d->layout;
}

std::string ModelEngine::LibraryVersion()
{
    return TORCH_VERSION;
}

std::vector<std::pair<std::string, double>> ModelEngine::Constants()
{
    return {{"weight_decay", kWeightDecay},
            {"warmup_share", kWarmupShare},
            {"max_warmup_steps", kMaxWarmupSteps},
            {"final_rate_share", kFinalRateShare},
            {"flip_chance", kFlipChance},
            {"contrast_spread", kContrastSpread},
            {"brightness_spread", kBrightnessSpread},
            {"defect_crop_share", kDefectCropShare},
            {"max_crops_per_image", kMaxCropsPerImage},
            {"min_visible_box_share", kMinVisibleShare},
            {"score_threshold", predict::kScoreThreshold},
            {"nms_iou", predict::kNmsIou},
            {"max_boxes", predict::kMaxBoxes}};
}

int ModelEngine::Threads()
{
    return at::get_num_threads();
}

void ModelEngine::SetThreads(int threads)
{
    at::set_num_threads(std::max(1, threads));
}

bool ModelEngine::OnGpu() const
{
    return d->device.is_cuda();
}
