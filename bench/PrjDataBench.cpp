// Times the project data store on this machine:
//  1. opening a project of 10,000 images (a fifth of them with five 20-vertex polygons) until every
//     batch has reached the image map, against a baseline that reads the same rows with the sqlite3
//     C API and parses the same ROI texts with QJsonDocument;
//  2. adding 1,000 640 x 480 PNG images until every save result has come back.
// Usage: PrjDataBench [runs]   (default 3 runs of each; the median is printed)

#include "Nexil/IPrjCore.h"
#include "Nexil/Nexil.h"
#include "Nexil/ROI/AnnotationText.h"
#include "Nexil/ROI/PolygonROIItem.h"
#include "Nexil/ROI/RectROIItem.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTimer>
#include <QtMath>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <sqlite3.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace
{

const int kOpenImages = 10000;
const int kAddImages = 1000;
const char* const kBatch = "2024-01-01_00-00-00-000";

// Only problems reach the console; the project's info lines would drown the figures.
void QuietHandler(QtMsgType type, const QMessageLogContext&, const QString& msg)
{
    if (type != QtDebugMsg && type != QtInfoMsg)
        std::fprintf(stderr, "%s\n", qPrintable(msg));
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Processes events until the condition holds; false when the time limit passes first.
template <typename Condition> bool WaitFor(Condition done, int limitMs = 600000)
{
    bool expired = false;
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &limit, [&] { expired = true; });
    limit.start(limitMs);
    while (!done() && !expired)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return done();
}

bool Exec(sqlite3* db, const char* sql)
{
    char* error = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &error) != SQLITE_OK)
    {
        std::fprintf(stderr, "sqlite: %s\n", error ? error : "?");
        sqlite3_free(error);
        return false;
    }
    return true;
}

QString PolygonRois(int seed)
{
    ROIList rois;
    for (int p = 0; p < 5; ++p)
    {
        QPolygonF polygon;
        for (int v = 0; v < 20; ++v)
        {
            const double angle = 2 * M_PI * v / 20;
            const double radius = 40 + (seed * 7 + v * 13 + p) % 25;
            polygon.append(QPointF(100 * (p + 1) + radius * std::cos(angle) + 0.37,
                                   200 + radius * std::sin(angle) + 0.61));
        }
        rois.append(std::make_shared<PolygonROIItem>(polygon, p % 4, QString::fromUtf8("缺陷%1").arg(p)));
    }
    return AnnotationText::buildRoiListText(rois);
}

// A project folder with its database and one small file per image, as the store leaves them.
bool MakeProject(const QString& prjDir)
{
    const QString raw = prjDir + "/datas/" + kBatch + "/RawDatas";
    if (!QDir().mkpath(raw))
        return false;
    std::vector<uchar> png;
    cv::imencode(".png", cv::Mat(8, 8, CV_8UC3, cv::Scalar(10, 20, 30)), png);
    for (int i = 0; i < kOpenImages; ++i)
    {
        QFile file(QString("%1/img%2.png").arg(raw).arg(i, 5, 10, QChar('0')));
        if (!file.open(QIODevice::WriteOnly) ||
            file.write(reinterpret_cast<const char*>(png.data()), qint64(png.size())) != qint64(png.size()))
            return false;
    }

    sqlite3* db = nullptr;
    if (sqlite3_open_v2(QFile::encodeName(prjDir + "/PrjData.db").constData(), &db,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK)
        return false;
    bool ok = Exec(db, "CREATE TABLE IF NOT EXISTS tbl_project_data (id VARCHAR(64) PRIMARY KEY, image "
                       "VARCHAR(512), markAsOK BOOLEAN,filter VARCHAR(64), roiJson TEXT, json TEXT)") &&
              Exec(db, "CREATE TABLE IF NOT EXISTS tbl_ai_mark_category (name VARCHAR(256) PRIMARY KEY, json "
                       "TEXT)") &&
              Exec(db, "BEGIN");
    sqlite3_stmt* insert = nullptr;
    ok = ok && sqlite3_prepare_v2(db,
                                  "INSERT INTO tbl_project_data (id, image, filter, markAsOK, roiJson) "
                                  "VALUES (?, ?, ?, ?, ?)",
                                  -1, &insert, nullptr) == SQLITE_OK;
    for (int i = 0; ok && i < kOpenImages; ++i)
    {
        const QByteArray id = QString::number(0x10000000 + i, 16).toUpper().toUtf8();
        const QByteArray image =
            QString("/datas/%1/RawDatas/img%2.png").arg(kBatch).arg(i, 5, 10, QChar('0')).toUtf8();
        const QByteArray filter = QString::fromUtf8("待确认").toUtf8();
        const QByteArray roiJson = (i % 5 == 0 ? PolygonRois(i) : QString("[]")).toUtf8();
        sqlite3_bind_text(insert, 1, id.constData(), id.size(), SQLITE_TRANSIENT);
        sqlite3_bind_text(insert, 2, image.constData(), image.size(), SQLITE_TRANSIENT);
        sqlite3_bind_text(insert, 3, filter.constData(), filter.size(), SQLITE_TRANSIENT);
        sqlite3_bind_int(insert, 4, i % 7 == 0 ? 1 : 0);
        sqlite3_bind_text(insert, 5, roiJson.constData(), roiJson.size(), SQLITE_TRANSIENT);
        ok = sqlite3_step(insert) == SQLITE_DONE;
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    ok = ok && Exec(db, "COMMIT");
    sqlite3_close(db);
    return ok;
}

// Milliseconds from OpenPro until the image map holds every image; -1 on failure.
double TimeOpen(Nexil& core)
{
    QElapsedTimer timer;
    timer.start();
    core.OpenPro("OPEN");
    const auto spPrj = core.PrjCore().lock();
    if (!spPrj || !WaitFor([&] { return spPrj->Images().size() >= kOpenImages; }))
        return -1;
    const double ms = timer.nsecsElapsed() / 1e6;
    core.OpenPro(QString());
    return ms;
}

// The same SELECT with the sqlite3 C API, every value read as text, every ROI text parsed.
double TimeBaseline(const QString& dbFile, int* rois)
{
    QElapsedTimer timer;
    timer.start();
    sqlite3* db = nullptr;
    sqlite3_stmt* select = nullptr;
    if (sqlite3_open_v2(QFile::encodeName(dbFile).constData(), &db, SQLITE_OPEN_READONLY, nullptr) !=
            SQLITE_OK ||
        sqlite3_prepare_v2(db, "select * from tbl_project_data", -1, &select, nullptr) != SQLITE_OK)
    {
        sqlite3_close(db);
        return -1;
    }
    const auto text = [&](int column)
    {
        return QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(select, column)),
                                 sqlite3_column_bytes(select, column));
    };
    int rows = 0;
    *rois = 0;
    QStringList lstId, lstImg, lstFilter, lstMarkAsOK;
    while (sqlite3_step(select) == SQLITE_ROW)
    {
        lstId.append(text(0));
        lstImg.append(text(1));
        lstMarkAsOK.append(sqlite3_column_int(select, 2) ? "1" : "0");
        lstFilter.append(text(3));
        *rois += QJsonDocument::fromJson(text(4).toUtf8()).array().size();
        ++rows;
    }
    sqlite3_finalize(select);
    sqlite3_close(db);
    return rows == kOpenImages ? timer.nsecsElapsed() / 1e6 : -1;
}

bool WriteAddImages(const QString& folder)
{
    if (!QDir().mkpath(folder))
        return false;
    for (int i = 0; i < kAddImages; ++i)
    {
        cv::Mat image(480, 640, CV_8UC3);
        for (int y = 0; y < image.rows; ++y)
            image.row(y).setTo(cv::Scalar((y + i) % 256, (y * 3) % 256, i % 256));
        cv::rectangle(image, cv::Rect(i % 600, (i * 7) % 440, 40, 40), cv::Scalar(255, 255, 255), -1);
        if (!cv::imwrite(QFile::encodeName(QString("%1/add%2.png").arg(folder).arg(i, 4, 10, QChar('0')))
                             .toStdString(),
                         image))
            return false;
    }
    return true;
}

struct AddResults
{
    int done = 0;
    int failed = 0;
};

void CountResult(const QString&, bool bSucc, const QString&, void* userData)
{
    auto* results = static_cast<AddResults*>(userData);
    ++results->done;
    if (!bSucc)
        ++results->failed;
}

// Milliseconds from the first AddImage until the last save result; the calls alone in *callsMs.
double TimeAdd(Nexil& core, const QString& projectId, const QString& srcFolder, double* callsMs)
{
    core.OpenPro(projectId);
    const auto spPrj = core.PrjCore().lock();
    if (!spPrj)
        return -1;
    AddResults results;
    spPrj->SetSaveCallback(&CountResult, &results);
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < kAddImages; ++i)
    {
        auto spImg = std::make_shared<pro::ImageInfo>();
        spImg->path = QString("%1/add%2.png").arg(srcFolder).arg(i, 4, 10, QChar('0'));
        spImg->fileName = QFileInfo(spImg->path).fileName();
        spImg->addTime = kBatch;
        spImg->filter = QString::fromUtf8("手动添加");
        spImg->rois.append(std::make_shared<RectROIItem>(QRectF(i % 600, (i * 7) % 440, 40, 40), 0,
                                                         QString::fromUtf8("划痕")));
        spPrj->AddImage(spImg);
    }
    *callsMs = timer.nsecsElapsed() / 1e6;
    if (!WaitFor([&] { return results.done >= kAddImages; }) || results.failed > 0)
        return -1;
    const double ms = timer.nsecsElapsed() / 1e6;
    core.OpenPro(QString());
    return ms;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(&QuietHandler);
    const int runs = std::max(1, argc > 1 ? QString(argv[1]).toInt() : 3);

    QTemporaryDir dir;
    const QString ws = dir.path() + "/ws";
    if (!dir.isValid() || !QDir().mkpath(ws))
        return 1;
    std::printf("Preparing %d images in %s ...\n", kOpenImages, qPrintable(dir.path()));
    std::fflush(stdout);
    if (!MakeProject(ws + "/open") || !WriteAddImages(dir.path() + "/src"))
    {
        std::fprintf(stderr, "Preparing the data failed.\n");
        return 1;
    }

    Nexil core;
    if (!core.Init(ws))
        return 1;
    auto spOpen = std::make_shared<pro::info>();
    spOpen->id = "OPEN";
    spOpen->name = "open";
    spOpen->type = 1;
    core.AddPro(spOpen);

    std::vector<double> open, baseline;
    int rois = 0;
    for (int run = 0; run < runs; ++run)
    {
        open.push_back(TimeOpen(core));
        baseline.push_back(TimeBaseline(ws + "/open/PrjData.db", &rois));
        std::printf("open run %d: %.1f ms, baseline %.1f ms\n", run + 1, open.back(), baseline.back());
        std::fflush(stdout);
        if (open.back() < 0 || baseline.back() < 0)
            return 1;
    }

    std::vector<double> add, calls;
    for (int run = 0; run < runs; ++run)
    {
        auto spAdd = std::make_shared<pro::info>();
        spAdd->id = QString("ADD%1").arg(run);
        spAdd->name = spAdd->id.toLower();
        spAdd->type = 1;
        core.AddPro(spAdd);
        double callsMs = 0;
        add.push_back(TimeAdd(core, spAdd->id, dir.path() + "/src", &callsMs));
        calls.push_back(callsMs);
        std::printf("add run %d: %.1f ms (AddImage calls %.1f ms)\n", run + 1, add.back(), callsMs);
        std::fflush(stdout);
        if (add.back() < 0)
            return 1;
    }

    const double openMs = Median(open);
    const double baselineMs = Median(baseline);
    std::printf("\nOpen %d images (%d ROIs) until all reached the image map: %.1f ms (median of %d)\n",
                kOpenImages, rois, openMs, runs);
    std::printf("Baseline, sqlite3 C API + QJsonDocument of the same rows:    %.1f ms\n", baselineMs);
    std::printf("Ratio open / baseline: %.2f\n", openMs / baselineMs);
    std::printf("Add %d PNG images 640x480 until every result came back: %.1f ms (%.2f ms per image), "
                "of which AddImage calls in the GUI thread %.1f ms\n",
                kAddImages, Median(add), Median(add) / kAddImages, Median(calls));
    return 0;
}
