#include "ImageIntake.h"

#include "ImageOrder.h"
#include "ImgStatus.h"
#include "SourceImgModel.h"

#include "Nexil/NexilApi.h"
#include "Nexil/NexilConst.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>
#include <utility>
#include <vector>

namespace
{
QString FoldersSetting()
{
    return QString::fromUtf8(nexil::kImportedFolders);
}
} // namespace

void ImageIntake::indexProject()
{
    m_bySource.clear();
    const auto spPrj = PrjIns().lock();
    if (!spPrj)
        return;
    for (const auto& spImg : spPrj->Images())
        remember(spImg);
}

void ImageIntake::remember(const std::shared_ptr<pro::ImageInfo>& spImg)
{
    if (!spImg || spImg->id.isEmpty())
        return;
    m_bySource.insert(SourceImgModel::sourceKey(*spImg), spImg);
    // Until its copy is confirmed, path is the source; afterwards the copy names it as well.
    m_bySource.insert(ImageOrder::PathKey(spImg->path), spImg);
}

KnownImages ImageIntake::knownImages()
{
    KnownImages known;
    const auto spPrj = PrjIns().lock();
    if (!spPrj)
        return known;
    known.reserve(spPrj->Images().size());
    for (const auto& spImg : spPrj->Images())
    {
        if (spImg)
            known.append({spImg->id, spImg->path, spImg->source});
    }
    return known;
}

int ImageIntake::useProjectRecords(QList<std::shared_ptr<pro::ImageInfo>>& images) const
{
    const auto spPrj = PrjIns().lock();
    int used = 0;
    for (auto& spImg : images)
    {
        if (!spImg || !spImg->id.isEmpty() || !spPrj)
            continue;
        // The loader's view of the project is as old as its scan; images added since are known here.
        const auto known = m_bySource.value(SourceImgModel::sourceKey(*spImg)).lock();
        if (known && !known->id.isEmpty() && spPrj->ImageById(known->id) == known)
        {
            spImg = known;
            ++used;
        }
    }
    return used;
}

void ImageIntake::scanRequested(bool report)
{
    Tally tally;
    tally.report = report;
    m_scans.append(tally);
}

ImageIntake::Tally* ImageIntake::runningScan()
{
    return m_scans.isEmpty() ? nullptr : &m_scans.first();
}

ImageIntake::Tally ImageIntake::scanFinished()
{
    return m_scans.isEmpty() ? Tally() : m_scans.takeFirst();
}

QString ImageIntake::summary(const Tally& tally)
{
    if (tally.fresh == 0 && tally.annotated == 0)
    {
        return tally.known > 0 ? tr("没有新增图片：%1 张已在列表或工程中").arg(tally.known)
                               : tr("没有找到图片");
    }
    std::vector<std::pair<int, int>> counts;
    for (auto it = tally.freshByStatus.begin(); it != tally.freshByStatus.end(); ++it)
        counts.emplace_back(it.key(), it.value());
    // More first; equal counts in the order of the status codes.
    std::stable_sort(counts.begin(), counts.end(),
                     [](const auto& a, const auto& b) { return a.second > b.second; });
    QStringList parts;
    for (const auto& [code, count] : counts)
        parts << QStringLiteral("%1 %2").arg(ImgStatus::Text(code)).arg(count);
    QString text = tr("新增 %1 张").arg(tally.fresh);
    if (!parts.isEmpty())
        text += tr("：") + parts.join(tr("，"));
    text += tr("；已标注 %1").arg(tally.annotated);
    if (tally.known > 0)
        text += tr("；%1 张已在列表或工程中").arg(tally.known);
    return text;
}

int ImageIntake::busiestStatus(const Tally& tally)
{
    int best = -1;
    int most = 0;
    for (auto it = tally.listedByStatus.begin(); it != tally.listedByStatus.end(); ++it)
    {
        if (it.value() > most)
        {
            best = it.key();
            most = it.value();
        }
    }
    return best;
}

QStringList ImageIntake::importedFolders()
{
    const auto spPrj = PrjIns().lock();
    if (!spPrj)
        return {};
    QStringList folders;
    const QJsonArray stored = QJsonDocument::fromJson(spPrj->Setting(FoldersSetting()).toUtf8()).array();
    for (const QJsonValue& folder : stored)
    {
        if (!folder.toString().isEmpty())
            folders.append(folder.toString());
    }
    return folders;
}

void ImageIntake::rememberFolder(const QString& folder)
{
    const auto spPrj = PrjIns().lock();
    if (!spPrj || folder.isEmpty())
        return;
    QStringList folders = importedFolders();
    const QString key = ImageOrder::PathKey(folder);
    for (const QString& known : qAsConst(folders))
    {
        if (ImageOrder::PathKey(known) == key)
            return;
    }
    folders.append(QDir::cleanPath(QFileInfo(folder).absoluteFilePath()));
    const QByteArray text = QJsonDocument(QJsonArray::fromStringList(folders)).toJson(QJsonDocument::Compact);
    spPrj->SetSetting(FoldersSetting(), QString::fromUtf8(text));
}

void ImageIntake::forgetFolders()
{
    if (const auto spPrj = PrjIns().lock())
        spPrj->SetSetting(FoldersSetting(), QString());
}
