#pragma once

#include <QImage>
#include <QMetaType>
#include <QPoint>
#include <QString>
#include <QVector>

#include <opencv2/core.hpp>

#include <utility>

// The image of the canvas: decoded once at full depth, mapped to an 8-bit picture for the screen
// through one lookup table. Images of more than 8 bits start at a window over their 0.5 %–99.5 %
// percentiles; the user's adjustment applies on top. Nothing here is ever written to a file.
class CanvasImage
{
public:
    // Brightness and contrast run from -100 to 100, gamma in hundredths (100 is neutral).
    struct Adjust
    {
        int brightness = 0;
        int contrast = 0;
        int gamma = 100;

        bool isNeutral() const { return brightness == 0 && contrast == 0 && gamma == 100; }
        bool operator==(const Adjust& other) const
        {
            return brightness == other.brightness && contrast == other.contrast && gamma == other.gamma;
        }
        bool operator!=(const Adjust& other) const { return !(*this == other); }
    };

    static constexpr int kMinLevel = -100;
    static constexpr int kMaxLevel = 100;
    static constexpr int kMinGamma = 20;
    static constexpr int kMaxGamma = 500;
    static constexpr double kLowPercentile = 0.005;
    static constexpr double kHighPercentile = 0.995;

    // False, and nothing shown, when the file cannot be decoded. The adjustment stays.
    bool load(const QString& path);
    void clear();
    void setAdjust(const Adjust& adjust);
    const Adjust& adjust() const { return m_adjust; }

    bool isNull() const { return m_levels.empty(); }
    const QImage& shown() const { return m_shown; }
    // Bits per sample of the file as decoded (8, 16, 32 or 64).
    int bitsPerSample() const;
    // The stored values mapped to black and white before the adjustment.
    double windowLow() const { return m_windowLow; }
    double windowHigh() const { return m_windowHigh; }
    // The stored value of each channel, red first; empty outside the image.
    QVector<double> valuesAt(const QPoint& pixel) const;
    // The pixel as an 8-bit decoding of the file gives it (16-bit samples keep their high byte).
    QRgb rgbAt(const QPoint& pixel) const;

    // Sample values at the two fractions of all samples in ascending order (every channel counts).
    static std::pair<double, double> percentiles(const cv::Mat& mat, double low, double high);
    // The 8-bit screen value of a value at t (0 black, 1 white within the window) after the
    // adjustment; contrast turns about pivot.
    static double adjusted(double t, const Adjust& adjust, double pivot);

private:
    void remap();

    // As decoded, channels in red-green-blue order and without alpha; depths other than 8 and 16
    // bits are held as floats.
    cv::Mat m_source;
    // What the lookup table reads: the source itself at 8 and 16 bits, else the source mapped onto
    // 16 bits through its window.
    cv::Mat m_levels;
    int m_decodedDepth = CV_8U;
    double m_windowLow = 0;
    double m_windowHigh = 255;
    // The picture's median within the window: contrast spreads the values about where they lie, so a
    // dark picture does not go black.
    double m_pivot = 0.5;
    Adjust m_adjust;
    QImage m_shown;
};

Q_DECLARE_METATYPE(CanvasImage::Adjust)
