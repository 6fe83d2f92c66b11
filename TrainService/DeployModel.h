#pragma once

#include "TrainService/NetRunner.h"
#include "TrainService/SampleTypes.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <string>

// A trained version taken out of the service to predict on the line: from its model folder (Config.json,
// weights, thresholds.json), run by libtorch or exported on the fly to run in OpenCV, or from an
// exported .onnx file, run in OpenCV. Exports check the model and the two runtimes' agreement first.
class DeployModel
{
public:
    enum class Runtime
    {
        Torch,
        OpenCv
    };

    // Raw outputs of the two runtimes agree when |a - b| <= kParityTolerance × max(1, max |a|).
    static constexpr double kParityTolerance = 1e-3;

    // A model folder or a .onnx file; false with the reason in error.
    bool Load(const QString& path, Runtime runtime, QString& error);
    // A runner of its own for one worker; null with the reason in error.
    std::unique_ptr<NetRunner> MakeRunner(QString& error) const;

    const QStringList& Classes() const { return m_classes; }
    const trainsvc::NetLayout& Layout() const { return m_layout; }
    const trainsvc::IntensityWindow& Window() const { return m_window; }
    // The thresholds saved with the version in class order, 0 for a class without one.
    const std::vector<float>& SavedThresholds() const { return m_saved; }
    Runtime RuntimeUsed() const { return m_runtime; }

    // The version in modelDir as a serialised ONNX model with its metadata, refused (false with the
    // reason in error) unless it passes the ONNX checker and OpenCV's outputs on a few generated
    // images agree with libtorch's and give the same decisions. noModel, when given, tells whether a
    // refusal came from a version that cannot be loaded at all.
    static bool Export(const QString& modelDir, std::string& bytes, QString& error, bool* noModel = nullptr);

    // The largest difference of raw outputs over tolerance (<= 1 passes) and whether the per-class
    // decisions at thresholds agree, over images of the layout's input size.
    struct Parity
    {
        double worstRatio = 0.0;
        bool sameDecisions = true;
    };
    static Parity CompareRuntimes(NetRunner& reference, NetRunner& other, const trainsvc::NetLayout& layout,
                                  const std::vector<float>& thresholds, const std::vector<cv::Mat>& images);
    // Generated images of size × size for the parity check: noise, gradients and blobs.
    static std::vector<cv::Mat> ParityImages(int size);

private:
    bool LoadFolder(const QString& modelDir, QString& error);
    bool LoadOnnx(const QString& file, QString& error);

    Runtime m_runtime = Runtime::Torch;
    QString m_modelDir;
    std::string m_onnx;
    QStringList m_classes;
    trainsvc::NetLayout m_layout;
    trainsvc::IntensityWindow m_window;
    std::vector<float> m_saved;
};
