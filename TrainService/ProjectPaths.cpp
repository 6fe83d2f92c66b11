#include "TrainService/ProjectPaths.h"

#include "ComLib/AtomicFile.h"
#include "Nexil/ImageFiles.h"
#include "Nexil/NexilConst.h"

#include <QDir>
#include <QFileInfo>
#include <QtDebug>

#include <algorithm>

namespace trainsvc
{

namespace
{

constexpr char kTrainDir[] = "train";

// The project of a config file <project>/train/<version>/<name>; empty when the file is not there.
QString ProjectOfConfig(const QString& configPath, const char* name, QString& versionDir)
{
    const QString config = ResolvedPath(configPath);
    const QFileInfo info(config);
    if (config.isEmpty() || !info.isFile() || info.fileName() != QLatin1String(name))
        return QString();
    versionDir = info.absolutePath();
    const QFileInfo train(versionDir);
    if (train.absolutePath() == versionDir ||
        QFileInfo(train.absolutePath()).fileName() != QLatin1String(kTrainDir))
        return QString();
    return QFileInfo(train.absolutePath()).absolutePath();
}

bool Overlap(const QString& a, const QString& b)
{
    return SameOrInside(a, b) || SameOrInside(b, a);
}

// The listed images as absolute paths, each once, in path order. Every entry must name an image file
// below predict (resolved) and inside datas, by a plain relative path that passes no link: the list
// comes from a file anyone could have written.
bool ConfineImages(const QStringList& images, const QString& predict, const QString& datas, QStringList& out,
                   QString& error)
{
    out.clear();
    for (const QString& image : images)
    {
        const QStringList parts = image.split(QLatin1Char('/'));
        const bool plain = !image.isEmpty() && !image.contains(QLatin1Char('\\')) &&
                           !image.contains(QLatin1Char(':')) &&
                           std::none_of(parts.begin(), parts.end(),
                                        [](const QString& part) {
                                            return part.isEmpty() || part == QLatin1String(".") ||
                                                   part == QLatin1String("..");
                                        });
        const QString joined = predict + QLatin1Char('/') + image;
        if (!plain || !::ImageFiles::IsImageName(image) || ResolvedPath(joined) != joined ||
            !SameOrInside(joined, datas))
        {
            error = QStringLiteral("\"predict_images\" entry %1 is no image below %2 inside %3")
                        .arg(image, predict, datas);
            return false;
        }
        out.append(joined);
    }
    out.sort();
    out.removeDuplicates();
    return true;
}

} // namespace

QString ResolvedPath(const QString& path)
{
    if (path.isEmpty() || !QDir::isAbsolutePath(path))
        return QString();
    const QStringList parts = QDir::fromNativeSeparators(path).split(QLatin1Char('/'), Qt::SkipEmptyParts);
    // The longest part that exists is resolved by the file system, ".." and links included.
    int existing = int(parts.size());
    QString prefix;
    for (; existing > 0; --existing)
    {
        prefix = QLatin1Char('/') + parts.mid(0, existing).join(QLatin1Char('/'));
        if (QFileInfo::exists(prefix))
            break;
    }
    QString resolved = existing > 0 ? QFileInfo(prefix).canonicalFilePath() : QStringLiteral("/");
    if (resolved.isEmpty())
        return QString();
    for (int i = existing; i < parts.size(); ++i)
    {
        const QString& part = parts.at(i);
        if (part == QLatin1String(".") || part == QLatin1String(".."))
            return QString();
        resolved += (resolved.endsWith(QLatin1Char('/')) ? QString() : QStringLiteral("/")) + part;
        // A dangling link would lead a later write elsewhere.
        if (i == existing && QFileInfo(resolved).isSymLink())
            return QString();
    }
    return resolved;
}

bool SameOrInside(const QString& path, const QString& folder)
{
    if (path.isEmpty() || folder.isEmpty())
        return false;
    if (folder == QLatin1String("/") || path == folder)
        return true;
    return path.startsWith(folder + QLatin1Char('/'));
}

bool ConfineTrainConfig(const QString& configPath, TrainConfig& config, QString& error)
{
    QString versionDir;
    const QString project = ProjectOfConfig(configPath, "config.json", versionDir);
    if (project.isEmpty())
    {
        error = QStringLiteral("a training config must be <project>/train/<version>/config.json, not %1")
                    .arg(configPath);
        return false;
    }
    if (ResolvedPath(config.trainPath) != versionDir)
    {
        error = QStringLiteral("\"train_path\" %1 is not the folder of its config %2")
                    .arg(config.trainPath, versionDir);
        return false;
    }
    for (const QString& name : {QString::fromLatin1(nexil::kModelDir).mid(1), QString::fromLatin1(kPartDir)})
    {
        const QString dir = versionDir + QLatin1Char('/') + name;
        const QFileInfo info(dir);
        if ((info.exists() || info.isSymLink()) && !IsMarkedDir(dir))
        {
            error = QStringLiteral("%1 was not made by the training service; it is left alone").arg(dir);
            return false;
        }
    }
    config.trainPath = versionDir;
    config.project = project;
    return true;
}

bool ConfineTestConfig(const QString& configPath, TestConfig& config, QString& error)
{
    QString versionDir;
    const QString project = ProjectOfConfig(configPath, "test.json", versionDir);
    if (project.isEmpty())
    {
        error = QStringLiteral("a test config must be <project>/train/<version>/test.json, not %1")
                    .arg(configPath);
        return false;
    }
    const QString testRoot = ResolvedPath(project + QLatin1String(nexil::kTestDir));
    const QString save = ResolvedPath(config.savePredictPath);
    if (save.isEmpty() || save == testRoot || !SameOrInside(save, testRoot))
    {
        error =
            QStringLiteral("\"save_predict_path\" %1 is not inside %2").arg(config.savePredictPath, testRoot);
        return false;
    }
    const QString predict = ResolvedPath(config.predictPath);
    if (predict.isEmpty())
    {
        error = QStringLiteral("\"predict_path\" %1 is not an absolute path").arg(config.predictPath);
        return false;
    }
    for (const QString& images : {predict, ResolvedPath(project + QLatin1String(nexil::kDatasDir))})
    {
        if (Overlap(save, images))
        {
            error = QStringLiteral("\"save_predict_path\" %1 overlaps the images' folder %2")
                        .arg(config.savePredictPath, images);
            return false;
        }
    }
    if (config.images)
    {
        QStringList images;
        if (!ConfineImages(*config.images, predict, ResolvedPath(project + QLatin1String(nexil::kDatasDir)),
                           images, error))
            return false;
        config.images = images;
    }
    config.savePredictPath = save;
    config.project = project;
    return true;
}

bool MakeMarkedDir(const QString& dir, QString& error)
{
    if (!QDir().mkdir(dir))
    {
        error = QStringLiteral("cannot create %1").arg(dir);
        return false;
    }
    return comlib::WriteFileAtomically(dir + QLatin1Char('/') + QLatin1String(kMadeMarker),
                                       "made by the training service\n", error);
}

bool IsMarkedDir(const QString& dir)
{
    const QFileInfo info(dir);
    const QFileInfo marker(dir + QLatin1Char('/') + QLatin1String(kMadeMarker));
    return !info.isSymLink() && info.isDir() && !marker.isSymLink() && marker.isFile();
}

bool RemoveMarkedDir(const QString& dir, QString& error)
{
    const QFileInfo info(dir);
    if (!info.exists() && !info.isSymLink())
        return true;
    if (!IsMarkedDir(dir))
    {
        error = QStringLiteral("%1 was not made by the training service; it is left alone").arg(dir);
        return false;
    }
    if (!QDir(dir).removeRecursively())
    {
        error = QStringLiteral("cannot remove %1").arg(dir);
        return false;
    }
    return true;
}

void ClearStaleParts(const QString& project)
{
    if (project.isEmpty())
        return;
    const QDir train(project + QLatin1Char('/') + QLatin1String(kTrainDir));
    for (const QString& version : train.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks))
    {
        const QString part = train.filePath(version) + QLatin1Char('/') + QLatin1String(kPartDir);
        QString error;
        if (!IsMarkedDir(part))
            continue;
        if (RemoveMarkedDir(part, error))
            qInfo().noquote() << "removed the unfinished version" << part;
        else
            qWarning().noquote() << error;
    }
}

} // namespace trainsvc
