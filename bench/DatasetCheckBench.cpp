// Times the training page's data set check on a project of 20,000 annotated images (a rectangle and a
// hexagon each, every 50th image of another size): the copy of the records in the GUI thread, the
// check itself (image headers and annotation files) in a cold and a warm run, and the page's check
// panel from the refresh to the shown result, with the longest stall of a 5 ms timer in the GUI thread.
// Usage: DatasetCheckBench [count]

#include "ModelTraining/DatasetCheck.h"
#include "ModelTraining/DatasetCheckWid.h"

#include "ComUi/Skin.h"
#include "Nexil/NexilApi.h"
#include "Nexil/ROI/AnnotationText.h"
#include "Nexil/ROI/PolygonROIItem.h"
#include "Nexil/ROI/RectROIItem.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace
{

const QString kStamp = QStringLiteral("2024-05-06_07-08-09-010");

ROIList Rois(int i)
{
    QPolygonF hexagon;
    for (int k = 0; k < 6; ++k)
        hexagon.append(QPointF(30 + 10 * std::cos(k * 1.047), 20 + 10 * std::sin(k * 1.047)));
    return {std::make_shared<RectROIItem>(QRectF(2 + i % 7, 3, 12.5, 9.25), 0, QStringLiteral("scratch")),
            std::make_shared<PolygonROIItem>(hexagon, 0,
                                             i % 3 ? QStringLiteral("spot") : QStringLiteral("dent"))};
}

// The project folder as the core library leaves it: image copies, annotation files and PrjData.db.
bool MakeProject(const QString& prjDir, int count)
{
    const QString folder = prjDir + "/datas/" + kStamp + "/RawDatas";
    if (!QDir().mkpath(folder))
        return false;
    QImage normal(64, 48, QImage::Format_RGB888);
    normal.fill(Qt::gray);
    QImage other(80, 48, QImage::Format_RGB888);
    other.fill(Qt::gray);
    if (!normal.save(prjDir + "/normal.png") || !other.save(prjDir + "/other.png"))
        return false;

    QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "bench");
    db.setDatabaseName(prjDir + "/PrjData.db");
    if (!db.open())
        return false;
    QSqlQuery query(db);
    query.exec("CREATE TABLE IF NOT EXISTS tbl_project_data (id VARCHAR(64) PRIMARY KEY, image VARCHAR(512), "
               "markAsOK BOOLEAN,filter VARCHAR(64), roiJson TEXT, json TEXT)");
    query.exec("CREATE TABLE IF NOT EXISTS tbl_ai_mark_category (name VARCHAR(256) PRIMARY KEY, json TEXT)");
    for (const char* name : {"scratch", "spot", "dent"})
        query.exec(QStringLiteral("INSERT INTO tbl_ai_mark_category (name) VALUES ('%1')").arg(name));
    db.transaction();
    query.prepare("INSERT INTO tbl_project_data (id, image, filter, markAsOK, roiJson) "
                  "VALUES (:id, :image, :filter, :markAsOK, :roiJson)");
    for (int i = 0; i < count; ++i)
    {
        const QString name = QStringLiteral("img_%1.png").arg(i, 5, 10, QLatin1Char('0'));
        const bool odd = i % 50 == 0;
        QFile::copy(prjDir + (odd ? "/other.png" : "/normal.png"), folder + "/" + name);
        const ROIList rois = Rois(i);
        QFile json(folder + QStringLiteral("/img_%1.json").arg(i, 5, 10, QLatin1Char('0')));
        if (!json.open(QIODevice::WriteOnly))
            return false;
        json.write(AnnotationText::buildAnnotationFileText(name, odd ? 80 : 64, 48, rois).toUtf8());
        query.bindValue(":id", QStringLiteral("ID%1").arg(i, 6, 10, QLatin1Char('0')));
        query.bindValue(":image", "/datas/" + kStamp + "/RawDatas/" + name);
        query.bindValue(":filter", "NG");
        query.bindValue(":markAsOK", false);
        query.bindValue(":roiJson", AnnotationText::buildRoiListText(rois));
        if (!query.exec())
            return false;
    }
    db.commit();
    db.close();
    return true;
}

double Ms(qint64 ns)
{
    return double(ns) / 1e6;
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    InitComUiResources();
    const int count = argc > 1 ? std::max(1, QString(argv[1]).toInt()) : 20000;
    QTemporaryDir dir;
    const QString ws = dir.filePath("ws");
    if (!MakeProject(ws + "/bench", count))
    {
        std::fprintf(stderr, "cannot make the project\n");
        return 1;
    }
    QSqlDatabase::removeDatabase("bench");

    CreateNexil();
    auto spInfo = std::make_shared<pro::info>();
    spInfo->id = "B1";
    spInfo->name = "bench";
    spInfo->type = 1;
    if (!NexilIns().lock()->Init(ws) || !NexilIns().lock()->AddPro(spInfo))
        return 1;
    NexilIns().lock()->OpenPro("B1");
    const auto spPrj = PrjIns().lock();
    QElapsedTimer loading;
    loading.start();
    while (spPrj->Images().size() < count && loading.elapsed() < 600000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    std::printf("%d images loaded in %.0f ms\n", spPrj->Images().size(), double(loading.elapsed()));

    QElapsedTimer clock;
    qint64 best = -1;
    DatasetCheck::Input input;
    for (int round = 0; round < 5; ++round)
    {
        clock.start();
        input = DatasetCheck::Snapshot(*spPrj);
        const qint64 ns = clock.nsecsElapsed();
        best = best < 0 ? ns : std::min(best, ns);
    }
    std::printf("copy of the records (GUI thread), best of 5: %.1f ms\n", Ms(best));

    for (const char* label : {"first", "second"})
    {
        clock.start();
        const DatasetCheck::Result result = DatasetCheck::Run(input);
        std::printf("check, %s run: %.0f ms (%d findings, %d ROIs)\n", label, Ms(clock.nsecsElapsed()),
                    int(result.findings.size()), result.trainableRois);
    }

    int rc = 0;
    {
        DatasetCheckWid panel;
        panel.resize(380, 500);
        panel.show();
        qint64 last = 0;
        qint64 worst = 0;
        QElapsedTimer tick;
        QTimer probe;
        probe.setInterval(5);
        QObject::connect(&probe, &QTimer::timeout, &panel,
                         [&]
                         {
                             const qint64 now = tick.elapsed();
                             worst = std::max(worst, now - last - probe.interval());
                             last = now;
                         });
        bool done = false;
        QObject::connect(&panel, &DatasetCheckWid::Signal_Checked, &panel, [&] { done = true; });
        tick.start();
        probe.start();
        clock.start();
        panel.Refresh();
        while (!done && clock.elapsed() < 600000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        std::printf("check panel, refresh to shown result: %.0f ms, longest GUI stall %lld ms\n",
                    double(clock.elapsed()), worst);
        rc = done ? 0 : 1;
    }
    ReleaseNexil();
    return rc;
}
