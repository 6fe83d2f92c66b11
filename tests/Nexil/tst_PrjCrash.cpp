#include "Nexil/ImageFiles.h"
#include "ProjectRecord.h"
#include "SqlRows.h"

#include "Nexil/PrjDataWork.h"
#include "Nexil/PrjMng.h"
#include "Nexil/ROI/AnnotationText.h"
#include "Nexil/ROI/RectROIItem.h"

#include <QDirIterator>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <opencv2/imgcodecs.hpp>

namespace
{

const int kImages = 2000;
const int kSaves = 1000;
const char* const kChildArg = "--crash-child";
const char* const kBatch = "2024-05-06_07-08-09-010";

// The child's record of what it asked for and what was reported stored, one line per event:
// "REQ\t<id>\t<roiJson>" before the result can come, "RES\t<id>\t<1 or 0>" when it came back.
class Journal
{
public:
    explicit Journal(const QString& file) : m_file(file)
    {
        m_file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered);
    }
    void Line(const QString& text) { m_file.write((text + "\n").toUtf8()); }

private:
    QFile m_file;
};

// Imports every source image, then stores new ROIs of images already stored, each time a result
// comes back, until it is killed or done.
class Child
{
public:
    Child(const QString& dir, quint32 seed)
        : m_dir(dir), m_random(seed), m_journal(dir + "/journal.txt"),
          m_prj(dir + "/ws", MakeInfo("P", "prj"))
    {
        m_prj.SetSaveCallback(&Child::Result, this);
    }

    void Run()
    {
        for (int i = 0; i < kImages; ++i)
        {
            auto spImg = std::make_shared<pro::ImageInfo>();
            spImg->path = QString("%1/src/i%2.png").arg(m_dir).arg(i);
            spImg->fileName = QFileInfo(spImg->path).fileName();
            spImg->addTime = kBatch;
            spImg->filter = "OK";
            spImg->rois.append(
                std::make_shared<RectROIItem>(QRectF(i % 7, 1, 2, 2), 0, QString("a%1").arg(i)));
            const QString id = m_prj.AddImage(spImg);
            m_journal.Line("REQ\t" + id + "\t" + AnnotationText::buildRoiListText(spImg->rois));
        }
    }

private:
    static void Result(const QString& id, bool bSucc, const QString&, void* userData)
    {
        auto* child = static_cast<Child*>(userData);
        child->m_journal.Line("RES\t" + id + (bSucc ? "\t1" : "\t0"));
        if (bSucc && !child->m_stored.contains(id))
        {
            child->m_stored.append(id);
        }
        if (child->m_saves < kSaves && !child->m_stored.isEmpty())
        {
            child->SaveOne();
        }
        if (++child->m_results == kImages + child->m_saves && child->m_saves == kSaves)
        {
            QCoreApplication::exit(0);
        }
    }

    void SaveOne()
    {
        const QString id = m_stored.at(int(m_random.bounded(quint32(m_stored.size()))));
        const auto spImg = m_prj.ImageById(id);
        spImg->rois.append(
            std::make_shared<RectROIItem>(QRectF(3, 3, 1, 1), 1, QString("s%1").arg(m_saves++)));
        m_prj.SaveImage(id);
        m_journal.Line("REQ\t" + id + "\t" + AnnotationText::buildRoiListText(spImg->rois));
    }

    QString m_dir;
    QRandomGenerator m_random;
    Journal m_journal;
    PrjMng m_prj;
    QStringList m_stored;
    int m_saves = 0;
    int m_results = 0;
};

int RunChild(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    Child child(QString::fromLocal8Bit(argv[2]), quint32(QString(argv[3]).toUInt()));
    child.Run();
    return app.exec();
}

} // namespace

// An import and a burst of saves killed at random moments: every write reported stored survives
// with its ROIs, the database is intact and no annotation file is cut short.
class tst_PrjCrash : public QObject
{
    Q_OBJECT

private slots:
    void killedMidWork_data();
    void killedMidWork();
};

void tst_PrjCrash::killedMidWork_data()
{
    QTest::addColumn<int>("killAfter"); // results reported before the kill

    QRandomGenerator* random = QRandomGenerator::global();
    QTest::newRow("early in the import") << int(random->bounded(1, 300));
    QTest::newRow("late in the import") << int(random->bounded(1000, 1950));
    QTest::newRow("among the saves") << int(random->bounded(2100, kImages + kSaves));
    QTest::newRow("anywhere") << int(random->bounded(1, kImages + kSaves));
}

void tst_PrjCrash::killedMidWork()
{
    QFETCH(int, killAfter);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(QDir().mkpath(dir.path() + "/src"));
    std::vector<uchar> png;
    QVERIFY(cv::imencode(".png", cv::Mat(6, 8, CV_8UC3, cv::Scalar(1, 2, 3)), png));
    for (int i = 0; i < kImages; ++i)
    {
        QFile file(QString("%1/src/i%2.png").arg(dir.path()).arg(i));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(reinterpret_cast<const char*>(png.data()), qint64(png.size()));
    }

    const quint32 seed = QRandomGenerator::global()->generate();
    qInfo() << "kill after" << killAfter << "results, seed" << seed;
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.setStandardOutputFile(QProcess::nullDevice());
    child.start(QCoreApplication::applicationFilePath(), {kChildArg, dir.path(), QString::number(seed)});
    QVERIFY(child.waitForStarted());
    QFile journalFile(dir.path() + "/journal.txt");
    const auto journalLines = [&]
    {
        QFile file(journalFile.fileName());
        return file.open(QIODevice::ReadOnly) ? int(file.readAll().count("RES\t")) : 0;
    };
    QVERIFY(QTest::qWaitFor(
        [&] { return child.state() == QProcess::NotRunning || journalLines() >= killAfter; }, 120000));
    if (child.state() != QProcess::NotRunning)
    {
        child.kill();
        QVERIFY(child.waitForFinished());
    }

    // What was asked for each id, in order, and the index of the last request reported stored.
    QVERIFY(journalFile.open(QIODevice::ReadOnly));
    QHash<QString, QStringList> requests;
    QHash<QString, int> results;
    QHash<QString, int> lastStored;
    for (const QByteArray& line : journalFile.readAll().split('\n'))
    {
        const QStringList parts = QString::fromUtf8(line).split('\t');
        if (parts.size() == 3 && parts[0] == "REQ")
            requests[parts[1]].append(parts[2]);
        else if (parts.size() == 3 && parts[0] == "RES" && parts[2] == "1")
            lastStored[parts[1]] = results[parts[1]]++;
        else if (parts.size() == 3 && parts[0] == "RES")
            results[parts[1]]++;
    }
    QVERIFY(!lastStored.isEmpty());

    const QString db = dir.path() + "/ws/prj/PrjData.db";
    const auto check = SqlRows::Select(db, "PRAGMA integrity_check");
    QCOMPARE(check.size(), 1);
    QCOMPARE(check[0].first().toString(), QString("ok"));
    QHash<QString, QVariantMap> rows;
    for (const QVariantMap& row : SqlRows::Select(db, "select id, image, roiJson from tbl_project_data"))
        rows.insert(row["id"].toString(), row);

    QDirIterator it(dir.path() + "/ws/prj/datas", {"*.json"}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
    {
        QFile file(it.next());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY2(QJsonDocument::fromJson(file.readAll()).isObject(), qPrintable(file.fileName()));
    }

    for (auto stored = lastStored.cbegin(); stored != lastStored.cend(); ++stored)
    {
        const QString& id = stored.key();
        QVERIFY2(rows.contains(id), qPrintable(id));
        // Writes after the last reported one may have been stored too, just not reported.
        const QStringList later = requests.value(id).mid(stored.value());
        const QString roiJson = rows[id]["roiJson"].toString();
        QVERIFY2(later.contains(roiJson), qPrintable(id + " " + roiJson));
        const QString annotation =
            ImageFiles::AnnotationPath(dir.path() + "/ws/prj" + rows[id]["image"].toString());
        QFile file(annotation);
        QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(annotation));
        const int shapes = QJsonDocument::fromJson(file.readAll()).object()["shapes"].toArray().size();
        QVERIFY(shapes >= AnnotationText::parseRoiListText(later.first()).size());
    }

    PrjMng prj(dir.path() + "/ws", MakeInfo("P", "prj"));
    QTRY_COMPARE_WITH_TIMEOUT(prj.Images().size(), rows.size(), 30000);
    for (auto stored = lastStored.cbegin(); stored != lastStored.cend(); ++stored)
    {
        const auto spImg = prj.ImageById(stored.key());
        QVERIFY(spImg);
        QCOMPARE(AnnotationText::buildRoiListText(spImg->rois), rows[stored.key()]["roiJson"].toString());
    }
}

int main(int argc, char* argv[])
{
    if (argc == 4 && QByteArray(argv[1]) == kChildArg)
        return RunChild(argc, argv);
    QCoreApplication app(argc, argv);
    tst_PrjCrash test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_PrjCrash.moc"
