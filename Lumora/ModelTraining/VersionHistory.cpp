#include "VersionHistory.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>

namespace
{

constexpr char kTrainDir[] = "train";
constexpr char kVersionTime[] = "yyyy-MM-dd_hh-mm-ss";

// A regular file that is no link and not too large, read whole.
bool ReadPlainFile(const QString& path, QByteArray& bytes)
{
    const QFileInfo info(path);
    if (info.isSymLink() || !info.isFile() || info.size() > VersionHistory::kMaxRecordBytes)
        return false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    bytes = file.read(VersionHistory::kMaxRecordBytes + 1);
    return bytes.size() <= VersionHistory::kMaxRecordBytes;
}

QString RecordPath(const QString& versionDir)
{
    return versionDir + QLatin1Char('/') + QLatin1String(comlib::protocol::kModelDir) + QLatin1Char('/') +
           QLatin1String(comlib::protocol::kModelConfigFile);
}

// The work of one epoch grows with the input's area and roughly with the square of the width.
double NetCost(int fineness)
{
    const comlib::protocol::FinenessLevel level = comlib::protocol::FinenessLevelOf(fineness);
    return double(level.inputSize) * level.inputSize * level.width * level.width;
}

int ImagesOf(const VersionHistory::Version& version)
{
    return version.record.trainImages + version.record.valImages;
}

QString Seconds(double seconds)
{
    if (seconds < 60)
        return VersionHistory::tr("%1 秒").arg(std::max(1.0, std::round(seconds)));
    return VersionHistory::tr("%1 分钟").arg(seconds / 60, 0, 'f', 1);
}

} // namespace

QVector<VersionHistory::Version> VersionHistory::Scan(const QString& projectDir)
{
    QVector<Version> versions;
    if (projectDir.isEmpty())
        return versions;
    const QFileInfo trainInfo(QDir(projectDir).filePath(QLatin1String(kTrainDir)));
    if (trainInfo.isSymLink() || !trainInfo.isDir())
        return versions;
    static const QRegularExpression kName(QStringLiteral("^V\\d{4}-\\d{2}-\\d{2}_\\d{2}-\\d{2}-\\d{2}$"));
    const QDir trainDir(trainInfo.absoluteFilePath());
    for (const QFileInfo& entry :
         trainDir.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks))
    {
        if (entry.isSymLink() || !kName.match(entry.fileName()).hasMatch())
            continue;
        Version version;
        if (!ReadRecord(entry.absoluteFilePath(), version.record))
            continue;
        version.name = entry.fileName();
        version.dir = entry.absoluteFilePath();
        version.started = QDateTime::fromString(version.name.mid(1), QLatin1String(kVersionTime));
        const QDateTime written = QFileInfo(RecordPath(version.dir)).lastModified();
        if (version.started.isValid() && written.isValid() && version.started <= written)
            version.seconds = version.started.secsTo(written);
        versions.append(version);
    }
    // The names hold the start time, so the newest sorts last.
    std::sort(versions.begin(), versions.end(),
              [](const Version& a, const Version& b) { return a.name > b.name; });
    return versions;
}

bool VersionHistory::ReadRecord(const QString& versionDir, comlib::protocol::ModelRecord& record)
{
    const QFileInfo modelDir(versionDir + QLatin1Char('/') + QLatin1String(comlib::protocol::kModelDir));
    QByteArray bytes;
    if (versionDir.isEmpty() || modelDir.isSymLink() || !modelDir.isDir() ||
        !ReadPlainFile(RecordPath(versionDir), bytes))
        return false;
    const QJsonDocument doc = QJsonDocument::fromJson(bytes);
    QString error;
    return doc.isObject() && comlib::protocol::ModelRecord::FromJson(doc.object(), record, error);
}

int VersionHistory::EpochsOf(const Version& version)
{
    return version.record.history.isEmpty() ? version.record.epochs : version.record.history.size();
}

double VersionHistory::SecondsPerEpoch(const Version& version)
{
    const int epochs = EpochsOf(version);
    if (version.seconds < 0 || epochs <= 0)
        return -1;
    return double(version.seconds) / epochs;
}

QString VersionHistory::Title(const Version& version)
{
    const QString when = version.started.isValid()
                             ? version.started.toString(QStringLiteral("yyyy-MM-dd hh:mm"))
                             : version.name;
    QStringList parts{when};
    if (EpochsOf(version) > 0)
        parts << tr("%1轮").arg(EpochsOf(version));
    if (version.record.fineness > 0)
        parts << tr("精度%1").arg(version.record.fineness);
    if (!version.record.history.isEmpty())
        parts << tr("验证损失 %1").arg(version.record.history.last().valLoss, 0, 'f', 4);
    return parts.join(QStringLiteral(" · "));
}

QString VersionHistory::Details(const Version& version)
{
    const comlib::protocol::ModelRecord& record = version.record;
    QStringList lines;
    QStringList settings;
    if (EpochsOf(version) > 0)
        settings << tr("轮数 %1").arg(EpochsOf(version));
    if (record.fineness > 0)
        settings << tr("精度 %1").arg(record.fineness);
    if (record.inputSize > 0)
        settings << tr("输入 %1").arg(record.inputSize);
    if (record.width > 0)
        settings << tr("宽度 %1").arg(record.width);
    if (!settings.isEmpty())
        lines << settings.join(QStringLiteral("，"));
    if (ImagesOf(version) > 0)
        lines << tr("训练图 %1 张，验证图 %2 张").arg(record.trainImages).arg(record.valImages);
    QStringList counts;
    for (const auto& count : record.classCounts)
        counts << tr("%1 %2/%3").arg(count.name).arg(count.train).arg(count.val);
    if (!counts.isEmpty())
        lines << tr("每类图片（训练/验证）：") + counts.join(QStringLiteral("，"));
    else if (!record.classes.isEmpty())
        lines << tr("类别：") + record.classes.join(QStringLiteral("，"));
    if (!record.history.isEmpty())
        lines << tr("最终损失：训练 %1，验证 %2")
                     .arg(record.history.last().totalLoss, 0, 'f', 4)
                     .arg(record.history.last().valLoss, 0, 'f', 4);
    if (SecondsPerEpoch(version) > 0)
        lines << tr("本机用时约 %1/轮").arg(Seconds(SecondsPerEpoch(version)));
    return lines.join(QLatin1Char('\n'));
}

double VersionHistory::EstimateSecondsPerEpoch(const QVector<Version>& versions, int fineness, int imageCount,
                                               bool* measured)
{
    if (measured)
        *measured = false;
    const Version* base = nullptr;
    for (const Version& version : versions)
    {
        if (SecondsPerEpoch(version) <= 0 || version.record.fineness <= 0)
            continue;
        if (version.record.fineness == fineness)
        {
            base = &version;
            if (measured)
                *measured = true;
            break;
        }
        if (!base)
            base = &version;
    }
    if (!base)
        return -1;
    double seconds = SecondsPerEpoch(*base) * NetCost(fineness) / NetCost(base->record.fineness);
    // An epoch goes over every image once.
    if (imageCount > 0 && ImagesOf(*base) > 0)
        seconds *= double(imageCount) / ImagesOf(*base);
    return seconds;
}

QString VersionHistory::FinenessTip(const QVector<Version>& versions, int imageCount)
{
    QStringList lines{tr("精度越高，输入越大、网络越宽，小缺陷看得越清，训练越慢。")};
    for (int level = comlib::protocol::kMinFineness; level <= comlib::protocol::kMaxFineness; ++level)
    {
        const comlib::protocol::FinenessLevel net = comlib::protocol::FinenessLevelOf(level);
        QString line = tr("精度%1：输入 %2×%2，宽度 %3").arg(level).arg(net.inputSize).arg(net.width);
        bool measured = false;
        const double seconds = EstimateSecondsPerEpoch(versions, level, imageCount, &measured);
        if (seconds > 0)
            line += (measured ? tr("，本机实测约 %1/轮") : tr("，估计约 %1/轮")).arg(Seconds(seconds));
        lines << line;
    }
    if (EstimateSecondsPerEpoch(versions, comlib::protocol::kMinFineness, imageCount) <= 0)
        lines << tr("本工程尚未训练过：训练一次后按本机实测给出每轮用时。");
    return lines.join(QLatin1Char('\n'));
}
