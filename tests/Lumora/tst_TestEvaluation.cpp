#include "ModelTesting/ThresholdRates.h"
#include "ModelTesting/VersionComparison.h"

#include <QtTest>

using comlib::protocol::TestSummary;

namespace
{

// Classes "scratch" and "spot". Truth and scores per image: s = scratch, p = spot.
TestSummary Summary()
{
    TestSummary summary;
    summary.classes = QStringList{"scratch", "spot"};
    summary.images = {
        {"/t/a.png", {0.9, 0.0}, QVector<bool>{true, false}},  // s found
        {"/t/b.png", {0.4, 0.7}, QVector<bool>{true, false}},  // s weak, p false
        {"/t/c.png", {0.0, 0.0}, QVector<bool>{true, true}},   // nothing found
        {"/t/d.png", {0.6, 0.8}, QVector<bool>{false, true}},  // s false
        {"/t/e.png", {0.2, 0.0}, QVector<bool>{false, false}}, // s faint
        {"/t/f.png", {0.5, 0.5}, std::nullopt},                // no truth: left out
    };
    return summary;
}

} // namespace

class tst_TestEvaluation : public QObject
{
    Q_OBJECT

private slots:
    void rates_data();
    void rates();
    void lowestOverkill_data();
    void lowestOverkill();
    void errorsByActualClass();
    void comparison();
    void comparisonRefusesOtherSets();
    void scoreOnTheDefectDecides();
};

void tst_TestEvaluation::rates_data()
{
    QTest::addColumn<double>("threshold");
    QTest::addColumn<int>("scratchMissed");
    QTest::addColumn<int>("scratchOverkill");
    QTest::addColumn<int>("spotMissed");
    QTest::addColumn<int>("spotOverkill");
    // scratch: 3 images hold it, 2 do not; spot: 2 hold it, 3 do not.
    QTest::newRow("0 finds every score above 0") << 0.0 << 1 << 2 << 1 << 1;
    QTest::newRow("a score equal to the threshold is found") << 0.4 << 1 << 1 << 1 << 1;
    QTest::newRow("between scores") << 0.45 << 2 << 1 << 1 << 1;
    QTest::newRow("above all") << 0.95 << 3 << 0 << 2 << 0;
}

void tst_TestEvaluation::rates()
{
    QFETCH(double, threshold);
    QFETCH(int, scratchMissed);
    QFETCH(int, scratchOverkill);
    QFETCH(int, spotMissed);
    QFETCH(int, spotOverkill);

    const ThresholdRates rates(Summary());
    QCOMPARE(rates.ImageCount(), 5);
    const auto all = rates.Rates({threshold, threshold});
    QCOMPARE(all.size(), 2);
    QCOMPARE(all[0].positives, 3);
    QCOMPARE(all[0].negatives, 2);
    QCOMPARE(all[0].missed, scratchMissed);
    QCOMPARE(all[0].overkill, scratchOverkill);
    QCOMPARE(all[1].missed, spotMissed);
    QCOMPARE(all[1].overkill, spotOverkill);
    QCOMPARE(all[0].MissedRate(), scratchMissed / 3.0);
    QCOMPARE(all[1].OverkillRate(), spotOverkill / 3.0);

    // The errors listed image by image count the same.
    int missed = 0;
    int overkill = 0;
    for (const auto& image : rates.Errors({threshold, threshold}))
    {
        missed += image.missed.count(0);
        overkill += image.overkill.count(0);
    }
    QCOMPARE(missed, scratchMissed);
    QCOMPARE(overkill, scratchOverkill);
}

void tst_TestEvaluation::lowestOverkill_data()
{
    QTest::addColumn<QVector<double>>("positives");
    QTest::addColumn<QVector<double>>("negatives");
    QTest::addColumn<double>("maxMissed");
    QTest::addColumn<double>("expected"); // -1: none
    QTest::newRow("nothing missed") << QVector<double>{0.9, 0.6, 0.3} << QVector<double>{0.5, 0.2} << 0.0
                                    << 0.3;
    QTest::newRow("a third may be missed")
        << QVector<double>{0.9, 0.6, 0.3} << QVector<double>{0.5, 0.2} << 1 / 3.0 << 0.6;
    // 0.7 and 0.2 both falsely find only the image at 0.85; 0.2 misses none.
    QTest::newRow("tie in overkill takes the fewer missed")
        << QVector<double>{0.8, 0.7, 0.2} << QVector<double>{0.85, 0.1} << 0.5 << 0.2;
    QTest::newRow("fewer missed at more overkill is not taken")
        << QVector<double>{0.8, 0.7, 0.2} << QVector<double>{0.85, 0.5} << 0.5 << 0.7;
    QTest::newRow("equal scores") << QVector<double>{0.5, 0.5, 0.9} << QVector<double>{0.6} << 0.0 << 0.5;
    QTest::newRow("an image never found cannot be reached")
        << QVector<double>{0.9, 0.0} << QVector<double>{0.1} << 0.0 << -1.0;
    QTest::newRow("class without images holding it")
        << QVector<double>{} << QVector<double>{0.4} << 0.0 << -1.0;
    QTest::newRow("everything may be missed keeps the class on")
        << QVector<double>{0.4, 0.3} << QVector<double>{0.9} << 1.0 << 0.3;
}

void tst_TestEvaluation::lowestOverkill()
{
    QFETCH(QVector<double>, positives);
    QFETCH(QVector<double>, negatives);
    QFETCH(double, maxMissed);
    QFETCH(double, expected);

    TestSummary summary;
    summary.classes = QStringList{"dent"};
    for (const double score : positives)
        summary.images.append({"p", {score}, QVector<bool>{true}});
    for (const double score : negatives)
        summary.images.append({"n", {score}, QVector<bool>{false}});
    const ThresholdRates rates(summary);
    const std::optional<double> chosen = rates.LowestOverkill(0, maxMissed);
    QCOMPARE(chosen.value_or(-1), expected);
    if (!chosen)
        return;
    // No other threshold meeting the limit and finding the class at all does better.
    const auto at = rates.Rate(0, *chosen);
    QVERIFY(at.missed <= maxMissed * at.positives + 1e-9);
    for (int i = 0; i <= 100; ++i)
    {
        const auto other = rates.Rate(0, i / 100.0);
        if (other.missed <= maxMissed * other.positives + 1e-9 && other.missed < other.positives)
            QVERIFY(other.overkill > at.overkill ||
                    (other.overkill == at.overkill && other.missed >= at.missed));
    }
}

void tst_TestEvaluation::errorsByActualClass()
{
    const ThresholdRates rates(Summary());
    const auto errors = rates.Errors({0.5, 0.75});
    // b: scratch missed (0.4) while annotated only with scratch, no spot at 0.7 < 0.75.
    // c: both missed. d: scratch found without being there, spot found. e: right.
    QCOMPARE(errors.size(), 3);
    QCOMPARE(rates.Image(errors[0].image).path, QString("/t/b.png"));
    QCOMPARE(errors[0].missed, QVector<int>{0});
    QCOMPARE(errors[0].overkill, QVector<int>{});
    QCOMPARE(rates.Image(errors[1].image).path, QString("/t/c.png"));
    QCOMPARE(errors[1].missed, (QVector<int>{0, 1}));
    QCOMPARE(rates.Image(errors[2].image).path, QString("/t/d.png"));
    QCOMPARE(errors[2].missed, QVector<int>{});
    QCOMPARE(errors[2].overkill, QVector<int>{0});
}

void tst_TestEvaluation::comparison()
{
    const TestSummary before = Summary();
    // The later version lists its classes the other way round and uses a path written on Windows.
    TestSummary after;
    after.classes = QStringList{"spot", "scratch"};
    after.images = {
        {"\\t\\a.png", {0.0, 0.2}, QVector<bool>{false, true}}, // scratch now missed: broken
        {"/t/b.png", {0.1, 0.8}, QVector<bool>{false, true}},   // scratch found: fixed; spot gone: fixed
        {"/t/c.png", {0.9, 0.0}, QVector<bool>{true, true}},    // spot found: fixed
        {"/t/d.png", {0.8, 0.6}, QVector<bool>{true, false}},   // unchanged
        {"/t/e.png", {0.7, 0.0}, QVector<bool>{false, false}},  // spot false: broken
        {"/t/f.png", {0.5, 0.5}, std::nullopt},
    };
    QVector<VersionComparison::ClassChange> changes;
    QString error;
    QVERIFY2(VersionComparison::Compare(before, {0.5, 0.5}, after, {0.5, 0.5}, changes, error),
             qPrintable(error));
    QCOMPARE(changes.size(), 2);
    QCOMPARE(changes[0].name, QString("scratch"));
    QCOMPARE(changes[0].fixed, QStringList{"/t/b.png"});
    QCOMPARE(changes[0].broken, QStringList{"/t/a.png"});
    QCOMPARE(changes[0].Net(), 0);
    QCOMPARE(changes[1].name, QString("spot"));
    QCOMPARE(changes[1].fixed, (QStringList{"/t/b.png", "/t/c.png"}));
    QCOMPARE(changes[1].broken, QStringList{"/t/e.png"});
    QCOMPARE(changes[1].Net(), 1);

    // A threshold alone changes the outcome: the same version at a lower spot threshold.
    QVERIFY(VersionComparison::Compare(before, {0.5, 0.5}, before, {0.5, 0.9}, changes, error));
    QCOMPARE(changes[1].fixed, QStringList{"/t/b.png"});
    QCOMPARE(changes[1].broken, QStringList{"/t/d.png"});
    QVERIFY(changes[0].fixed.isEmpty() && changes[0].broken.isEmpty());
}

void tst_TestEvaluation::comparisonRefusesOtherSets()
{
    const TestSummary before = Summary();
    QVector<VersionComparison::ClassChange> changes;
    QString error;
    TestSummary fewer = before;
    fewer.images.removeFirst();
    TestSummary otherTruth = before;
    otherTruth.images[1].truth = QVector<bool>{false, false};
    TestSummary otherImage = before;
    otherImage.images[0].path = "/t/z.png";
    for (const TestSummary& other : {fewer, otherTruth, otherImage})
    {
        QVERIFY(!VersionComparison::Compare(before, {}, other, {}, changes, error));
        QVERIFY(!error.isEmpty());
        QVERIFY(changes.isEmpty());
        QVERIFY(other.Fingerprint() != before.Fingerprint());
    }
    TestSummary reordered = before;
    reordered.images = {before.images.crbegin(), before.images.crend()};
    QCOMPARE(reordered.Fingerprint(), before.Fingerprint());
}

QTEST_GUILESS_MAIN(tst_TestEvaluation)
// A strong shape beside the defect finds nothing: misses, the lowest-overkill choice, the error list
// and the comparison follow the score of the shapes on the defect where the summary has it.
void tst_TestEvaluation::scoreOnTheDefectDecides()
{
    TestSummary summary;
    summary.classes = QStringList{"dent"};
    summary.images = {
        {"/t/a.png", {0.9}, QVector<bool>{true}, QVector<double>{0.2}},  // strong beside, weak on it
        {"/t/b.png", {0.7}, QVector<bool>{true}, QVector<double>{0.7}},  // found where it is
        {"/t/c.png", {0.6}, QVector<bool>{false}, QVector<double>{0.0}}, // false
    };
    const ThresholdRates rates(summary);
    QCOMPARE(rates.Rate(0, 0.5).missed, 1);
    QCOMPARE(rates.Rate(0, 0.5).overkill, 1);
    QCOMPARE(rates.Rate(0, 0.1).missed, 0);
    // Nothing missed needs 0.2, which lets c through; the highest scores would have offered 0.7.
    QCOMPARE(rates.LowestOverkill(0, 0), std::optional<double>(0.2));
    const auto errors = rates.Errors({0.5});
    QCOMPARE(errors.size(), 2);
    QCOMPARE(errors[0].missed, QVector<int>{0});
    QCOMPARE(errors[1].overkill, QVector<int>{0});

    TestSummary after = summary;
    after.images[0].hits = QVector<double>{0.9};
    QVector<VersionComparison::ClassChange> changes;
    QString error;
    QVERIFY2(VersionComparison::Compare(summary, {0.5}, after, {0.5}, changes, error), qPrintable(error));
    QCOMPARE(changes[0].fixed, QStringList{"/t/a.png"});
    QVERIFY(changes[0].broken.isEmpty());

    // A summary without those scores counts by the highest score, as before.
    for (auto& image : summary.images)
        image.hits.reset();
    QCOMPARE(ThresholdRates(summary).Rate(0, 0.5).missed, 0);
}

#include "tst_TestEvaluation.moc"
