#include "VersionComparison.h"

#include "ThresholdRates.h"

#include <QCoreApplication>
#include <QDir>
#include <QHash>

namespace
{

QString Key(const QString& path)
{
    return QDir::cleanPath(QString(path).replace(QLatin1Char('\\'), QLatin1Char('/')));
}

bool Wrong(const comlib::protocol::TestSummary::Image& image, int cls, double threshold)
{
    return image.truth->at(cls) !=
           ThresholdRates::Found(ThresholdRates::DecidingScore(image, cls), threshold);
}

} // namespace

bool VersionComparison::Compare(const comlib::protocol::TestSummary& before,
                                const QVector<double>& beforeThresholds,
                                const comlib::protocol::TestSummary& after,
                                const QVector<double>& afterThresholds, QVector<ClassChange>& changes,
                                QString& error)
{
    changes.clear();
    // Rows without truth count in neither version.
    const auto labelled = [](const comlib::protocol::TestSummary& summary)
    {
        QHash<QString, const comlib::protocol::TestSummary::Image*> rows;
        for (const auto& image : summary.images)
        {
            if (image.truth && image.truth->size() == summary.classes.size() &&
                image.scores.size() == summary.classes.size())
                rows.insert(Key(image.path), &image);
        }
        return rows;
    };
    const auto beforeRows = labelled(before);
    const auto afterRows = labelled(after);
    // The truth of a class is compared by name, for versions that list their classes in another order.
    QVector<QPair<int, int>> classes;
    for (int b = 0; b < before.classes.size(); ++b)
    {
        const int a = after.classes.indexOf(before.classes.at(b));
        if (a >= 0)
            classes.append({b, a});
    }
    bool same = !beforeRows.isEmpty() && beforeRows.size() == afterRows.size();
    for (auto it = beforeRows.cbegin(); same && it != beforeRows.cend(); ++it)
    {
        const auto* later = afterRows.value(it.key());
        same = later != nullptr;
        for (const auto& cls : classes)
            same = same && it.value()->truth->at(cls.first) == later->truth->at(cls.second);
    }
    if (!same)
    {
        error =
            QCoreApplication::translate("VersionComparison", "两个版本不是在同一组带标注的图片上测试的。");
        return false;
    }

    for (const auto& cls : classes)
    {
        ClassChange change{before.classes.at(cls.first), {}, {}};
        // In the order of the earlier summary, for a report that reads like its test.
        for (const auto& row : before.images)
        {
            const auto* earlier = beforeRows.value(Key(row.path));
            if (earlier != &row)
                continue;
            const auto* later = afterRows.value(Key(row.path));
            const bool wasWrong = Wrong(row, cls.first, beforeThresholds.value(cls.first, 0));
            const bool isWrong = Wrong(*later, cls.second, afterThresholds.value(cls.second, 0));
            if (wasWrong && !isWrong)
                change.fixed.append(row.path);
            else if (!wasWrong && isWrong)
                change.broken.append(row.path);
        }
        changes.append(change);
    }
    return true;
}
