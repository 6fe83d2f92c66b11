// LumoraExport: writes the annotated images of a project folder as a COCO, YOLO or Pascal VOC data
// set, for scripts. One summary line on standard output when done; one error line on standard error
// and a non-zero exit status otherwise:
//   0 done, 1 bad arguments, 2 no readable project, 3 the output folder cannot be used,
//   4 writing failed, 5 nothing to export.
#include "LumoraExport/DatasetExporter.h"
#include "LumoraExport/ExportPaths.h"
#include "LumoraExport/ProjectReader.h"
#include "Nexil/ProInfo.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QTextStream>

#include <cstdio>

namespace
{

enum ExitCode
{
    kDone = 0,
    kBadArguments = 1,
    kNoProject = 2,
    kOutputUnusable = 3,
    kWriteFailed = 4,
    kNothingToExport = 5,
};

int Fail(int code, const QString& message)
{
    QTextStream(stderr) << "LumoraExport: error: " << message << Qt::endl;
    return code;
}

int ExitOf(const ExportSummary& summary)
{
    const QString path = QDir::toNativeSeparators(summary.detail);
    const QString output = QDir::toNativeSeparators(summary.outputDir);
    switch (summary.status)
    {
    case ExportStatus::Ok:
        return kDone;
    case ExportStatus::Cancelled:
        return Fail(kWriteFailed, "cancelled");
    case ExportStatus::NoImages:
        return Fail(
            kNothingToExport,
            QStringLiteral("no annotated image could be read (%1 skipped)").arg(summary.skippedImages));
    case ExportStatus::OutputNotEmpty:
        return Fail(kOutputUnusable, "output folder " + path + " is not empty (use --replace to replace it)");
    case ExportStatus::OutputNotWritable:
        return Fail(kOutputUnusable, "cannot write the output folder " + path);
    case ExportStatus::OutputHoldsImages:
        return Fail(kOutputUnusable, "output folder " + path + " holds images of the project; not replaced");
    case ExportStatus::OutputIsLink:
        return Fail(kOutputUnusable, "output " + path + " is a symbolic link; links are not followed");
    case ExportStatus::OutputInProject:
        if (summary.detail.compare(summary.outputDir, Qt::CaseInsensitive) == 0)
            return Fail(kOutputUnusable, "output folder " + output + " is a project folder or workspace");
        return Fail(kOutputUnusable,
                    "output folder " + output + " lies inside the project or workspace " + path);
    case ExportStatus::OutputHoldsProject:
        return Fail(kOutputUnusable, "output folder " + output + " contains the project or workspace " +
                                         path + "; not replaced");
    case ExportStatus::OutputNotExport:
        return Fail(kOutputUnusable, "output folder " + path + " was not made by an export (no " +
                                         ExportPaths::kMarkerFile + " file); not replaced");
    case ExportStatus::WriteFailed:
        return Fail(kWriteFailed, "writing failed at " + path + "; nothing was left behind");
    }
    return kWriteFailed;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("LumoraExport");
    QCoreApplication::setApplicationVersion(LUMORA_VERSION);

    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Exports the annotated images of a project folder (images with ROIs and images marked OK) as a "
        "data set.\nThe output folder is written completely or not at all. Exit status: 0 done, 1 bad "
        "arguments,\n2 no readable project, 3 output folder unusable, 4 writing failed, 5 nothing to "
        "export.");
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument("project", "The project folder (holds PrjData.db).");
    const QCommandLineOption format({"f", "format"}, "coco, yolo or voc.", "format");
    const QCommandLineOption output({"o", "output"},
                                    "Folder to create (must not exist or be empty; never a link, nor in or "
                                    "around a project or workspace).",
                                    "folder");
    const QCommandLineOption val("val", "Share of the images for validation, 0 to <1 (default 0: no split).",
                                 "fraction", "0");
    const QCommandLineOption seed("seed", "Seed of the split (default 0).", "n", "0");
    const QCommandLineOption link("link", "Hard-link the images instead of copying them (copies where "
                                          "the file system cannot link).");
    const QCommandLineOption replace("replace", "Replace an output folder that an earlier export made.");
    const QCommandLineOption type("type",
                                  "segment or detect; by default the project's type in the "
                                  "catalogue of its workspace.",
                                  "type");
    parser.addOptions({format, output, val, seed, link, replace, type});
    parser.process(app);

    if (parser.positionalArguments().size() != 1)
        return Fail(kBadArguments, "give one project folder (see --help)");
    if (!parser.isSet(format) || !parser.isSet(output))
        return Fail(kBadArguments, "--format and --output are required (see --help)");

    ExportOptions options;
    const auto chosen = ExportOptions::FormatFromName(parser.value(format));
    if (!chosen)
        return Fail(kBadArguments, "unknown format \"" + parser.value(format) + "\" (coco, yolo or voc)");
    options.format = *chosen;
    options.outputDir = parser.value(output);
    bool ok = false;
    options.valFraction = parser.value(val).toDouble(&ok);
    if (!ok || options.valFraction < 0 || options.valFraction >= 1)
        return Fail(kBadArguments, "--val must be a number from 0 to below 1");
    options.seed = parser.value(seed).toUInt(&ok);
    if (!ok)
        return Fail(kBadArguments, "--seed must be a whole number from 0 to 4294967295");
    options.transfer = parser.isSet(link) ? ImageTransfer::Link : ImageTransfer::Copy;
    options.replaceOutput = parser.isSet(replace);

    ExportSet set;
    QString error;
    if (ProjectReader::Read(parser.positionalArguments().constFirst(), set, error) !=
        ProjectReader::Status::Ok)
        return Fail(kNoProject, error);
    if (parser.isSet(type))
    {
        const QString name = parser.value(type).toLower();
        if (name != "segment" && name != "detect")
            return Fail(kBadArguments, "--type must be segment or detect");
        set.type = name == "segment" ? pro::kSegmentProject : pro::kObjectProject;
    }
    if (set.type != pro::kSegmentProject && set.type != pro::kObjectProject)
        return Fail(kNoProject, "the workspace catalogue does not give the project's type; pass --type");

    DatasetExporter exporter(set, options);
    const ExportSummary summary = exporter.Run();
    if (summary.status != ExportStatus::Ok)
        return ExitOf(summary);
    if (!set.refusedPaths.isEmpty())
        QTextStream(stderr) << "LumoraExport: warning: " << set.refusedPaths.size()
                            << " stored image paths lead out of the project folder; not read" << Qt::endl;
    if (summary.skippedImages > 0)
        QTextStream(stderr) << "LumoraExport: warning: " << summary.skippedImages
                            << " images skipped (file missing or unreadable, or path out of the project)"
                            << Qt::endl;
    QTextStream(stdout) << "LumoraExport: done: format=" << ExportOptions::FormatName(options.format)
                        << " images=" << summary.trainImages + summary.valImages
                        << " train=" << summary.trainImages << " val=" << summary.valImages
                        << " ok=" << summary.okImages << " objects=" << summary.objects
                        << " categories=" << summary.categories << " skipped=" << summary.skippedImages
                        << " dropped=" << summary.droppedShapes << " output=\""
                        << QDir::toNativeSeparators(summary.outputDir) << "\"" << Qt::endl;
    return kDone;
}
