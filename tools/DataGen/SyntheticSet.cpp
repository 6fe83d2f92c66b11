#include "SyntheticSet.h"

#include "ComLib/Service/ServiceProtocol.h"
#include "TrainService/PredictionFile.h"

#include <QDir>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <random>

using trainsvc::Shape;

namespace
{

cv::Mat Background(int size, std::mt19937& rng)
{
    std::uniform_int_distribution<int> base(90, 170);
    cv::Mat noise(size, size, CV_32F);
    // From the set's own generator, not OpenCV's global one: a seed gives the same set every time.
    cv::RNG(rng()).fill(noise, cv::RNG::NORMAL, 0.0, 1.0);
    // Brushed texture: noise smeared along one direction, plus a slow lighting gradient.
    cv::Mat brushed;
    cv::blur(noise, brushed, cv::Size(size / 8 + 1, 1));
    cv::Mat grain;
    cv::GaussianBlur(noise, grain, cv::Size(3, 3), 0.8);
    cv::Mat gray(size, size, CV_32F, cv::Scalar(base(rng)));
    gray += brushed * 18.0f + grain * 5.0f;
    std::uniform_real_distribution<float> tilt(-20.0f, 20.0f);
    const float gx = tilt(rng), gy = tilt(rng);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x)
            gray.at<float>(y, x) += gx * x / size + gy * y / size;
    cv::Mat image;
    gray.convertTo(image, CV_8U);
    cv::cvtColor(image, image, cv::COLOR_GRAY2BGR);
    return image;
}

std::vector<cv::Point2f> Outline(const std::vector<cv::Point>& poly)
{
    std::vector<cv::Point2f> points;
    for (const cv::Point& p : poly)
        points.emplace_back(float(p.x), float(p.y));
    return points;
}

// Draws one defect of class cls and returns its outline polygon.
std::vector<cv::Point> DrawDefect(cv::Mat& image, int cls, bool thin, std::mt19937& rng)
{
    const int size = image.cols;
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    const cv::Point2f centre(size * (0.15f + 0.7f * unit(rng)), size * (0.15f + 0.7f * unit(rng)));
    std::vector<cv::Point> poly;
    if (cls == 0)
    {
        // Scratch: a long thin dark groove.
        const float angle = float(CV_PI) * unit(rng);
        const float length = size * (0.15f + 0.2f * unit(rng));
        const float width = thin ? 3.0f + 5.0f * unit(rng) : std::max(2.0f, size / 90.0f);
        const cv::RotatedRect groove(centre, cv::Size2f(length, width), angle * 180.0f / float(CV_PI));
        cv::Point2f corners[4];
        groove.points(corners);
        for (const cv::Point2f& c : corners)
            poly.emplace_back(cvRound(c.x), cvRound(c.y));
        cv::fillConvexPoly(image, poly, cv::Scalar::all(35 + 30 * unit(rng)), cv::LINE_AA);
    }
    else if (cls == 1)
    {
        // Spot: a small dark round stain.
        const int radius = thin ? 2 + int(2.99f * unit(rng)) : int(size * (0.025f + 0.03f * unit(rng)));
        cv::ellipse2Poly(cv::Point(centre), cv::Size(radius, int(radius * (0.7f + 0.3f * unit(rng)))),
                         int(180 * unit(rng)), 0, 360, 20, poly);
        cv::fillPoly(image, std::vector<std::vector<cv::Point>>{poly}, cv::Scalar::all(20 + 30 * unit(rng)),
                     cv::LINE_AA);
    }
    else
    {
        // Dent: a larger shallow bright-and-dark pit.
        const int radius = thin ? 3 + int(1.99f * unit(rng)) : int(size * (0.05f + 0.04f * unit(rng)));
        cv::ellipse2Poly(cv::Point(centre), cv::Size(radius, radius), 0, 0, 360, 15, poly);
        cv::Mat overlay = image.clone();
        cv::circle(overlay, cv::Point(centre) - cv::Point(radius / 3, radius / 3), radius * 2 / 3,
                   cv::Scalar::all(235), cv::FILLED, cv::LINE_AA);
        cv::circle(overlay, cv::Point(centre) + cv::Point(radius / 4, radius / 4), radius * 2 / 3,
                   cv::Scalar::all(40), cv::FILLED, cv::LINE_AA);
        cv::Mat mask = cv::Mat::zeros(image.size(), CV_8U);
        cv::fillPoly(mask, std::vector<std::vector<cv::Point>>{poly}, cv::Scalar(255));
        cv::addWeighted(overlay, 0.6, image, 0.4, 0.0, overlay);
        overlay.copyTo(image, mask);
    }
    return poly;
}

} // namespace

QStringList SyntheticSet::ClassNames(int numClasses)
{
    const QStringList all{QStringLiteral("scratch"), QStringLiteral("spot"), QStringLiteral("dent")};
    return all.mid(0, std::clamp(numClasses, 1, 3));
}

bool SyntheticSet::Generate(const QString& folder, const Options& options, QString& error)
{
    m_fileNames.clear();
    m_shapes.clear();
    if (!QDir().mkpath(folder))
    {
        error = QStringLiteral("cannot create %1").arg(folder);
        return false;
    }
    const QStringList classes = ClassNames(options.numClasses);
    std::mt19937 rng(options.seed);
    std::uniform_int_distribution<int> defects(1, 2);
    std::uniform_int_distribution<int> pickClass(0, int(classes.size()) - 1);
    for (int n = 0; n < options.count; ++n)
    {
        cv::Mat image = Background(options.size, rng);
        std::vector<Shape> shapes;
        // Every third image is good.
        const int count = n % 3 == 2 ? 0 : defects(rng);
        for (int d = 0; d < count; ++d)
        {
            const int cls = pickClass(rng);
            const std::vector<cv::Point> poly = DrawDefect(image, cls, options.thin, rng);
            Shape shape;
            shape.cls = cls;
            if (options.rectangles)
            {
                const cv::Rect box = cv::boundingRect(poly) & cv::Rect(0, 0, options.size, options.size);
                shape.rect = true;
                shape.points = {cv::Point2f(box.tl()), cv::Point2f(box.br())};
            }
            else
            {
                shape.points = Outline(poly);
            }
            shapes.push_back(std::move(shape));
        }
        const QString name = QStringLiteral("img_%1.png").arg(n, 4, 10, QLatin1Char('0'));
        const QString path = folder + QLatin1Char('/') + name;
        if (!cv::imwrite(path.toStdString(), image))
        {
            error = QStringLiteral("cannot write %1").arg(path);
            return false;
        }
        if (!trainsvc::WritePredictionFile(comlib::protocol::PredictionPath(folder, folder, path), name,
                                           image.size(), shapes, classes, error))
            return false;
        m_fileNames.append(name);
        m_shapes.push_back(std::move(shapes));
    }
    return true;
}
