#include "CanvasImage.h"

#include "Nexil/ImageDecode.h"

#include <opencv2/core/utility.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <vector>

namespace
{

constexpr double kMax16 = 65535.0;

// Ranks of the two fractions among n sorted samples, widened outwards.
std::pair<size_t, size_t> Ranks(size_t n, double low, double high)
{
    const double last = double(n - 1);
    return {size_t(std::floor(low * last)), std::min(n - 1, size_t(std::ceil(high * last)))};
}

template <typename T>
std::pair<double, double> HistogramPercentiles(const cv::Mat& mat, double low, double high)
{
    std::vector<size_t> counts(size_t(1) << (8 * sizeof(T)), 0);
    for (int y = 0; y < mat.rows; ++y)
    {
        const T* row = mat.ptr<T>(y);
        for (int x = 0; x < mat.cols * mat.channels(); ++x)
            ++counts[row[x]];
    }
    const auto [lowRank, highRank] = Ranks(mat.total() * size_t(mat.channels()), low, high);
    double lowValue = -1;
    size_t seen = 0;
    for (size_t v = 0; v < counts.size(); ++v)
    {
        seen += counts[v];
        if (lowValue < 0 && seen > lowRank)
            lowValue = double(v);
        if (seen > highRank)
            return {lowValue, double(v)};
    }
    return {0, 0};
}

std::pair<double, double> FloatPercentiles(const cv::Mat& mat, double low, double high)
{
    std::vector<float> values;
    values.reserve(mat.total() * size_t(mat.channels()));
    for (int y = 0; y < mat.rows; ++y)
    {
        const float* row = mat.ptr<float>(y);
        values.insert(values.end(), row, row + mat.cols * mat.channels());
    }
    const auto [lowRank, highRank] = Ranks(values.size(), low, high);
    std::nth_element(values.begin(), values.begin() + long(lowRank), values.end());
    const double lowValue = values[lowRank];
    std::nth_element(values.begin(), values.begin() + long(highRank), values.end());
    return {lowValue, double(values[highRank])};
}

} // namespace

std::pair<double, double> CanvasImage::percentiles(const cv::Mat& mat, double low, double high)
{
    if (mat.empty())
        return {0, 0};
    switch (mat.depth())
    {
    case CV_8U:
        return HistogramPercentiles<uchar>(mat, low, high);
    case CV_16U:
        return HistogramPercentiles<ushort>(mat, low, high);
    case CV_32F:
        return FloatPercentiles(mat, low, high);
    default:
    {
        cv::Mat floats;
        mat.convertTo(floats, CV_32F);
        return FloatPercentiles(floats, low, high);
    }
    }
}

double CanvasImage::adjusted(double t, const Adjust& adjust, double pivot)
{
    const double factor = std::pow(4.0, adjust.contrast / 100.0);
    double v = std::clamp((t - pivot) * factor + pivot + adjust.brightness / 200.0, 0.0, 1.0);
    if (adjust.gamma != 100)
        v = std::pow(v, 100.0 / std::clamp(adjust.gamma, kMinGamma, kMaxGamma));
    return v * 255.0;
}

bool CanvasImage::load(const QString& path)
{
    clear();
    // Full depth and the colour the file has; the EXIF orientation is applied as for 8 bits.
    cv::Mat mat = ImageDecode::Read(path, cv::IMREAD_ANYDEPTH | cv::IMREAD_ANYCOLOR);
    if (mat.empty() || (mat.channels() != 1 && mat.channels() != 3 && mat.channels() != 4))
        return false;
    m_decodedDepth = mat.depth();
    if (mat.depth() != CV_8U && mat.depth() != CV_16U && mat.depth() != CV_32F)
        mat.convertTo(mat, CV_32F);
    if (mat.depth() == CV_32F)
        cv::patchNaNs(mat, 0);
    if (mat.channels() == 3)
        cv::cvtColor(mat, m_source, cv::COLOR_BGR2RGB);
    else if (mat.channels() == 4)
        cv::cvtColor(mat, m_source, cv::COLOR_BGRA2RGB);
    else
        m_source = mat;

    m_windowLow = 0;
    m_windowHigh = 255;
    if (m_source.depth() != CV_8U)
    {
        std::tie(m_windowLow, m_windowHigh) = percentiles(m_source, kLowPercentile, kHighPercentile);
        if (m_windowHigh <= m_windowLow)
        {
            // A flat picture with a few outliers shows the outliers; a constant one keeps its place
            // in the range of its type.
            double minValue = 0;
            double maxValue = 0;
            cv::minMaxLoc(m_source.reshape(1), &minValue, &maxValue);
            if (maxValue > minValue)
                std::tie(m_windowLow, m_windowHigh) = std::make_pair(minValue, maxValue);
            else if (m_source.depth() == CV_16U)
                std::tie(m_windowLow, m_windowHigh) = std::make_pair(0.0, kMax16);
            else
                std::tie(m_windowLow, m_windowHigh) = std::make_pair(minValue - 1, minValue + 1);
        }
    }
    const double median = percentiles(m_source, 0.5, 0.5).first;
    m_pivot = std::clamp((median - m_windowLow) / (m_windowHigh - m_windowLow), 0.0, 1.0);
    if (m_source.depth() == CV_32F)
    {
        const double scale = kMax16 / (m_windowHigh - m_windowLow);
        m_source.convertTo(m_levels, CV_16U, scale, -m_windowLow * scale);
    }
    else
    {
        m_levels = m_source;
    }
    remap();
    return true;
}

void CanvasImage::clear()
{
    m_source.release();
    m_levels.release();
    m_shown = QImage();
    m_decodedDepth = CV_8U;
    m_windowLow = 0;
    m_windowHigh = 255;
    m_pivot = 0.5;
}

void CanvasImage::setAdjust(const Adjust& adjust)
{
    if (adjust == m_adjust)
        return;
    m_adjust = adjust;
    remap();
}

int CanvasImage::bitsPerSample() const
{
    switch (m_decodedDepth)
    {
    case CV_16U:
    case CV_16S:
        return 16;
    case CV_32S:
    case CV_32F:
        return 32;
    case CV_64F:
        return 64;
    default:
        return 8;
    }
}

void CanvasImage::remap()
{
    if (m_levels.empty())
    {
        m_shown = QImage();
        return;
    }
    // Floats reach the table already windowed onto 16 bits.
    const bool windowed = m_source.depth() == CV_32F;
    const double low = windowed ? 0 : m_windowLow;
    const double high = windowed ? kMax16 : m_windowHigh;
    const bool eightBit = m_levels.depth() == CV_8U;
    std::vector<uchar> lut(eightBit ? 256 : 65536);
    for (size_t v = 0; v < lut.size(); ++v)
        lut[v] = cv::saturate_cast<uchar>(
            adjusted(std::clamp((double(v) - low) / (high - low), 0.0, 1.0), m_adjust, m_pivot));

    const int channels = m_levels.channels();
    QImage shown(m_levels.cols, m_levels.rows,
                 channels == 1 ? QImage::Format_Grayscale8 : QImage::Format_RGB888);
    cv::Mat view(m_levels.rows, m_levels.cols, CV_8UC(channels), shown.bits(), size_t(shown.bytesPerLine()));
    if (eightBit)
    {
        cv::LUT(m_levels, cv::Mat(1, 256, CV_8U, lut.data()), view);
    }
    else
    {
        const cv::Mat& levels = m_levels;
        cv::parallel_for_(cv::Range(0, levels.rows),
                          [&](const cv::Range& rows)
                          {
                              for (int y = rows.start; y < rows.end; ++y)
                              {
                                  const ushort* in = levels.ptr<ushort>(y);
                                  uchar* out = view.ptr<uchar>(y);
                                  for (int x = 0; x < levels.cols * channels; ++x)
                                      out[x] = lut[in[x]];
                              }
                          });
    }
    m_shown = shown;
}

QVector<double> CanvasImage::valuesAt(const QPoint& pixel) const
{
    if (m_source.empty() || pixel.x() < 0 || pixel.y() < 0 || pixel.x() >= m_source.cols ||
        pixel.y() >= m_source.rows)
    {
        return {};
    }
    const int channels = m_source.channels();
    QVector<double> values;
    for (int c = 0; c < channels; ++c)
    {
        const int at = pixel.x() * channels + c;
        switch (m_source.depth())
        {
        case CV_8U:
            values.append(m_source.ptr<uchar>(pixel.y())[at]);
            break;
        case CV_16U:
            values.append(m_source.ptr<ushort>(pixel.y())[at]);
            break;
        default:
            values.append(m_source.ptr<float>(pixel.y())[at]);
            break;
        }
    }
    return values;
}

QRgb CanvasImage::rgbAt(const QPoint& pixel) const
{
    const QVector<double> values = valuesAt(pixel);
    if (values.isEmpty())
        return 0;
    const auto byte = [this](double v)
    { return m_source.depth() == CV_16U ? int(v) >> 8 : int(cv::saturate_cast<uchar>(v)); };
    if (values.size() == 1)
        return qRgb(byte(values[0]), byte(values[0]), byte(values[0]));
    return qRgb(byte(values[0]), byte(values[1]), byte(values[2]));
}
