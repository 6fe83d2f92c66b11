// LumoraInspect: predicts images with a trained version for the production line and for scripts, or
// exports a version as an ONNX model. One summary line when done; one error line on standard error and
// a non-zero exit status otherwise:
//   0 done, 1 bad arguments, 2 no usable model, 3 the output cannot be used, 4 writing failed,
//   5 nothing to inspect (no image found or none readable), 6 the export was refused (checker or
//   parity).
#include "ComLib/AtomicFile.h"
#include "LumoraExport/ExportPaths.h"
#include "LumoraInspect/Inspector.h"
#include "TrainService/DataSet.h"

#include "ComLib/Service/ServiceProtocol.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QTextStream>

#include <cstdio>
#include <thread>
#include <unistd.h>

namespace
{

enum ExitCode
{
    kDone = 0,
    kBadArguments = 1,
    kNoModel = 2,
    kOutputUnusable = 3,
    kWriteFailed = 4,
    kNothingToInspect = 5,
    kExportRefused = 6,
};

// The hidden file at the root of every output folder this program made; only such a folder is written
// into again when it is not empty.
constexpr char kMarkerFile[] = ".lumora-inspect";
constexpr char kCsvFile[] = "inspection.csv";

QString Native(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

int Fail(int code, const QString& message)
{
    QTextStream(stderr) << "LumoraInspect: error: " << message << Qt::endl;
    return code;
}

// The output folder, resolved and created with its marker; empty with the message in error when it
// is a link, not a folder, in or around a project or workspace, among the images, or another
// program's folder.
QString PrepareOutput(const QString& requested, const QString& imageRoot, QString& error)
{
    const QString out = ExportPaths::ResolvedOutput(requested);
    if (requested.trimmed().isEmpty() || out.isEmpty() || QFileInfo(out).fileName().isEmpty())
    {
        error = "cannot use the output folder " + Native(requested);
        return {};
    }
    if (ExportPaths::IsLink(out))
    {
        error = "output " + Native(out) + " is a symbolic link; links are not followed";
        return {};
    }
    const QFileInfo info(out);
    if (info.exists() && !info.isDir())
    {
        error = "output " + Native(out) + " is not a folder";
        return {};
    }
    const QString project = ExportPaths::EnclosingProject(out);
    if (!project.isEmpty())
    {
        error = "output folder " + Native(out) + " lies in the project or workspace " + Native(project);
        return {};
    }
    const QString images = ExportPaths::Resolved(imageRoot);
    if (images.isEmpty() || ExportPaths::SameOrInside(out, images, Qt::CaseInsensitive))
    {
        error = "output folder " + Native(out) +
                " lies among the images; their annotation files could be overwritten";
        return {};
    }
    if (info.exists())
    {
        const std::optional<QString> below = ExportPaths::ProjectBelow(out);
        if (!below || !below->isEmpty())
        {
            error = "output folder " + Native(out) + " contains a project or workspace";
            return {};
        }
        if (!QDir(out).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System) &&
            !QFileInfo(out + "/" + kMarkerFile).isFile())
        {
            error = "output folder " + Native(out) + " is not empty and was not made by LumoraInspect (no " +
                    kMarkerFile + " file)";
            return {};
        }
    }
    QString why;
    if (!QDir().mkpath(out) || !comlib::WriteFileAtomically(out + "/" + kMarkerFile, "LumoraInspect\n", why))
    {
        error = "cannot write the output folder " + Native(out);
        return {};
    }
    return out;
}

int ExportOnnx(const QString& modelDir, const QString& requested)
{
    if (!requested.endsWith(".onnx", Qt::CaseInsensitive))
        return Fail(kBadArguments, "the exported file's name must end in .onnx");
    const QString target = ExportPaths::ResolvedOutput(requested);
    if (target.isEmpty() || !QFileInfo(QFileInfo(target).path()).isDir())
        return Fail(kOutputUnusable, "the folder of " + Native(requested) + " does not exist");
    if (ExportPaths::IsLink(target))
        return Fail(kOutputUnusable, Native(target) + " is a symbolic link; links are not followed");
    if (QFileInfo(target).isDir())
        return Fail(kOutputUnusable, Native(target) + " is a folder");
    const QString project = ExportPaths::EnclosingProject(QFileInfo(target).path());
    if (!project.isEmpty())
        return Fail(kOutputUnusable, Native(target) + " lies in the project or workspace " + Native(project));
    if (!QFileInfo(modelDir).isDir())
        return Fail(kNoModel, "no model folder " + Native(modelDir));
    std::string bytes;
    QString error;
    bool noModel = false;
    if (!DeployModel::Export(modelDir, bytes, error, &noModel))
        return Fail(noModel ? kNoModel : kExportRefused, error);
    if (!comlib::WriteFileAtomically(target, QByteArray::fromStdString(bytes), error))
        return Fail(kWriteFailed, error);
    QTextStream(stdout) << "LumoraInspect: exported: bytes=" << bytes.size() << " output=\"" << Native(target)
                        << "\"" << Qt::endl;
    return kDone;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("LumoraInspect");
    QCoreApplication::setApplicationVersion(LUMORA_VERSION);

    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Predicts images with a trained model: writes one CSV line per image (path, decision, highest score\n"
        "and decision per class, time) and, with --out, a prediction file per image in the project's\n"
        "annotation format. With --export, writes the model as an ONNX file instead.\n"
        "Exit status: 0 done, 1 bad arguments, 2 no usable model, 3 output unusable, 4 writing failed,\n"
        "5 nothing to inspect, 6 export refused.");
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(
        "model", "A version's model folder (Config.json, weights) or an exported .onnx file.");
    parser.addPositionalArgument("images", "An image or a folder of images (searched below).", "[images]");
    const QCommandLineOption out(
        {"o", "out"},
        "Folder for the prediction files and inspection.csv (new, empty or made by an "
        "earlier run; never a link, nor in a project or among the images). Without it "
        "the CSV goes to standard output.",
        "folder");
    const QCommandLineOption thresholds(
        "thresholds",
        "saved (the version's, the default), default (every prediction counts) or "
        "a thresholds file.",
        "which", "saved");
    const QCommandLineOption runtime("runtime",
                                     "torch or opencv (default: torch for a model folder, opencv for "
                                     ".onnx).",
                                     "name");
    const QCommandLineOption jobs("jobs", "Workers, each with its own model (default: the number of cores).",
                                  "n");
    const QCommandLineOption exportTo("export", "Write the model folder's version as this ONNX file.",
                                      "file");
    parser.addOptions({out, thresholds, runtime, jobs, exportTo});
    parser.process(app);
    const QStringList args = parser.positionalArguments();

    if (parser.isSet(exportTo))
    {
        if (args.size() != 1 || parser.isSet(out))
            return Fail(kBadArguments, "--export takes one model folder and no images or --out (see --help)");
        return ExportOnnx(args.constFirst(), parser.value(exportTo));
    }
    if (args.size() != 2)
        return Fail(kBadArguments, "give a model and an image or folder (see --help)");
    const QString modelPath = args.at(0);
    const QString imagePath = args.at(1);
    const bool isFolder = QFileInfo(modelPath).isDir();
    DeployModel::Runtime chosen = isFolder ? DeployModel::Runtime::Torch : DeployModel::Runtime::OpenCv;
    if (parser.isSet(runtime))
    {
        const QString name = parser.value(runtime).toLower();
        if (name != "torch" && name != "opencv")
            return Fail(kBadArguments, "--runtime must be torch or opencv");
        chosen = name == "torch" ? DeployModel::Runtime::Torch : DeployModel::Runtime::OpenCv;
    }
    // As measured (bench/InspectBench), both runtimes go faster with a network per core than with
    // one network computing on every core.
    int workers = int(std::max(1u, std::thread::hardware_concurrency()));
    if (parser.isSet(jobs))
    {
        bool ok = false;
        workers = parser.value(jobs).toInt(&ok);
        if (!ok || workers < 1 || workers > 256)
            return Fail(kBadArguments, "--jobs must be a whole number from 1 to 256");
    }
    const QString which = parser.value(thresholds);
    QByteArray thresholdFile;
    if (which != "saved" && which != "default")
    {
        QFile file(which);
        if (!QFileInfo(which).isFile() || file.size() > (1 << 20) || !file.open(QIODevice::ReadOnly))
            return Fail(kBadArguments, "--thresholds must be saved, default or a readable thresholds file");
        thresholdFile = file.readAll();
    }
    const QFileInfo imageInfo(imagePath);
    if (!imageInfo.exists())
        return Fail(kBadArguments, "no image or folder " + Native(imagePath));

    DeployModel model;
    QString error;
    if (!QFileInfo::exists(modelPath))
        return Fail(kNoModel, "no model " + Native(modelPath));
    if (!model.Load(modelPath, chosen, error))
        return Fail(error.startsWith("the torch runtime") ? kBadArguments : kNoModel, error);
    std::vector<float> limits(size_t(model.Classes().size()), 0.0f);
    if (which == "saved")
    {
        limits = model.SavedThresholds();
    }
    else if (!thresholdFile.isEmpty() || which != "default")
    {
        comlib::protocol::ClassThresholds parsed;
        if (!comlib::protocol::ClassThresholds::FromJson(QJsonDocument::fromJson(thresholdFile).object(),
                                                         parsed, error))
            return Fail(kBadArguments, "thresholds file " + Native(which) + ": " + error);
        for (int c = 0; c < model.Classes().size(); ++c)
            limits[size_t(c)] = float(parsed.ThresholdOf(model.Classes().at(c), 0));
    }

    const QString root = imageInfo.isDir() ? imageInfo.absoluteFilePath() : imageInfo.absolutePath();
    const QStringList images =
        imageInfo.isDir() ? DataSet::ImageFiles(root) : QStringList{imageInfo.absoluteFilePath()};
    if (images.isEmpty())
        return Fail(kNothingToInspect, "no images in " + Native(imagePath));
    QString outputDir;
    if (parser.isSet(out))
    {
        outputDir = PrepareOutput(parser.value(out), root, error);
        if (outputDir.isEmpty())
            return Fail(kOutputUnusable, error);
    }

    const bool terminal = isatty(fileno(stderr)) != 0;
    const auto progress = [terminal](int done, int total)
    {
        if (terminal)
            QTextStream(stderr) << "\rLumoraInspect: " << done << "/" << total << " images" << Qt::flush;
    };
    Inspector inspector(model, limits);
    std::vector<Inspector::Row> rows;
    Inspector::Summary summary;
    if (!inspector.Run(images, root, outputDir, workers, progress, rows, summary, error))
        return Fail(kNoModel, error);
    if (terminal)
        QTextStream(stderr) << "\n";
    if (!summary.writeError.isEmpty())
        return Fail(kWriteFailed, summary.writeError);

    QString csv = Inspector::CsvHeader(model.Classes()) + "\n";
    for (const Inspector::Row& row : rows)
        csv += Inspector::CsvLine(row, int(model.Classes().size())) + "\n";
    if (outputDir.isEmpty())
        QTextStream(stdout) << csv << Qt::flush;
    else if (!comlib::WriteFileAtomically(outputDir + "/" + kCsvFile, csv.toUtf8(), error))
        return Fail(kWriteFailed, error);

    if (summary.skipped > 0)
        QTextStream(stderr) << "LumoraInspect: warning: " << summary.skipped << " unreadable images skipped"
                            << Qt::endl;
    if (summary.failed > 0)
        QTextStream(stderr) << "LumoraInspect: warning: the network could not predict " << summary.failed
                            << " images (decision \"error\")" << Qt::endl;
    if (summary.inspected == 0)
        return Fail(kNothingToInspect,
                    QStringLiteral("no image could be inspected (%1 unreadable, %2 not predicted)")
                        .arg(summary.skipped)
                        .arg(summary.failed));
    // The summary goes where the CSV does not.
    QTextStream line(outputDir.isEmpty() ? stderr : stdout);
    line << "LumoraInspect: done: images=" << summary.inspected << " ng=" << summary.ng
         << " ok=" << summary.inspected - summary.ng << " skipped=" << summary.skipped
         << " failed=" << summary.failed
         << " runtime=" << (model.RuntimeUsed() == DeployModel::Runtime::Torch ? "torch" : "opencv")
         << " jobs=" << std::min(workers, int(images.size())) << " images_per_second="
         << QString::number(summary.seconds > 0 ? rows.size() / summary.seconds : 0.0, 'f', 1);
    if (!outputDir.isEmpty())
        line << " output=\"" << Native(outputDir) << "\"";
    line << Qt::endl;
    return kDone;
}
