// Times the project data store on this machine:
//  1. opening a project of 100,000 images (a fifth of them with five 20-vertex polygons): the time
//     until the first batch is in the image map and until all are, against a baseline that reads
//     the same rows with the sqlite3 C API and parses the same ROI texts with QJsonDocument;
//  2. adding 10,000 640 x 480 PNG images and 200 2448 x 2048 JPEG images until every result has come
//     back, against a floor measured in the same run: copying the same files and writing the same
//     annotation texts with a plain write and rename (and the same followed by one sync of the file
//     system, since the store makes its writes durable before it reports them); with the time spent
//     inside AddImage;
//  3. the disk syncs (fsync, fdatasync, syncfs) per 1,000 adds, counted with strace when it is
//     installed.
// Usage: PrjDataBench [runs] [open]   (default 3 runs of the opening, the median is printed; adds run
//        once; with "open" only the opening is timed)

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
#include <QProcess>
#include <QStandardPaths>
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

#include <fcntl.h>
#include <unistd.h>

namespace
{

const int kOpenImages = 100000;
const int kSmallImages = 10000;
const int kLargeImages = 200;
const int kSyncImages = 1000;
// Distinct files per set; the others are hard links to them, which keeps preparing quick.
const int kDistinct = 50;
const char* const kAddsArg = "--adds";
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

QByteArray Encode(const char* ext, const cv::Mat& image)
{
    std::vector<uchar> bytes;
    cv::imencode(ext, image, bytes);
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), int(bytes.size()));
}

bool WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return !bytes.isEmpty() && file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

bool Link(const QString& existing, const QString& name)
{
    return ::link(QFile::encodeName(existing).constData(), QFile::encodeName(name).constData()) == 0;
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

// A project folder with its database and one small file per image, as the store leaves them (the
// files are hard links to a few images).
bool MakeProject(const QString& prjDir)
{
    const QString raw = prjDir + "/datas/" + kBatch + "/RawDatas";
    const QByteArray png = Encode(".png", cv::Mat(8, 8, CV_8UC3, cv::Scalar(10, 20, 30)));
    if (!QDir().mkpath(raw))
        return false;
    for (int i = 0; i < kOpenImages; ++i)
    {
        // A file system allows only so many links to one file.
        const QString source = QString("%1/source%2.png").arg(raw).arg(i / 10000);
        if ((i % 10000 == 0 && !WriteFile(source, png)) ||
            !Link(source, QString("%1/img%2.png").arg(raw).arg(i, 6, 10, QChar('0'))))
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
            QString("/datas/%1/RawDatas/img%2.png").arg(kBatch).arg(i, 6, 10, QChar('0')).toUtf8();
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

struct OpenTimes
{
    double firstMs = -1;
    double allMs = -1;
};

// Milliseconds from OpenPro until the first batch and until every image is in the image map.
OpenTimes TimeOpen(Nexil& core)
{
    OpenTimes times;
    QElapsedTimer timer;
    timer.start();
    core.OpenPro("OPEN");
    const auto spPrj = core.PrjCore().lock();
    if (!spPrj || !WaitFor([&] { return !spPrj->Images().isEmpty(); }))
        return times;
    times.firstMs = timer.nsecsElapsed() / 1e6;
    if (!WaitFor([&] { return spPrj->Images().size() >= kOpenImages; }))
        return times;
    times.allMs = timer.nsecsElapsed() / 1e6;
    core.OpenPro(QString());
    return times;
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

// One import set: the source files, their annotation texts as the store writes them, their size.
struct AddSet
{
    QString name;
    QStringList files;
    QStringList texts;
    qint64 bytes = 0;
};

std::shared_ptr<ROIItem> SetRoi(int i)
{
    return std::make_shared<RectROIItem>(QRectF(i % 600, (i * 7) % 440, 40, 40), 0,
                                         QString::fromUtf8("划痕"));
}

// count files named <prefix>NNNNN.<ext> in folder, made of kDistinct encoded images.
bool MakeSet(AddSet* set, const QString& folder, const QString& prefix, const char* ext, int count, int width,
             int height)
{
    if (!QDir().mkpath(folder))
        return false;
    for (int i = 0; i < count; ++i)
    {
        const QString file = QString("%1/%2%3%4").arg(folder, prefix).arg(i, 5, 10, QChar('0')).arg(ext);
        if (i < kDistinct)
        {
            cv::Mat image(height, width, CV_8UC3);
            for (int y = 0; y < image.rows; ++y)
                image.row(y).setTo(cv::Scalar((y + i) % 256, (y * 3) % 256, (i * 40) % 256));
            cv::rectangle(image, cv::Rect(i * 10 % (width - 40), i * 7 % (height - 40), 40, 40),
                          cv::Scalar(255, 255, 255), -1);
            if (!WriteFile(file, Encode(ext, image)))
                return false;
        }
        else if (!Link(set->files.at(i % kDistinct), file))
        {
            return false;
        }
        set->files.append(file);
        set->bytes += QFileInfo(file).size();
        set->texts.append(
            AnnotationText::buildAnnotationFileText(QFileInfo(file).fileName(), width, height, {SetRoi(i)}));
    }
    return true;
}

// Reads every source once, so that neither the floor nor the store pays for the first read.
void WarmUp(const AddSet& set)
{
    for (const QString& file : set.files)
    {
        QFile in(file);
        if (in.open(QIODevice::ReadOnly))
            in.readAll();
    }
}

bool WriteAndRename(const QString& file, const QByteArray& bytes)
{
    return WriteFile(file + ".part", bytes) && std::rename(QFile::encodeName(file + ".part").constData(),
                                                           QFile::encodeName(file).constData()) == 0;
}

// The same files copied into a folder and the same texts written beside them with a plain write
// and rename, one after another.
double TimeFloor(const AddSet& set, const QString& folder, double* syncedMs)
{
    if (!QDir().mkpath(folder))
        return -1;
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < set.files.size(); ++i)
    {
        const QString name = QFileInfo(set.files.at(i)).fileName();
        const QString json = folder + "/" + name.left(name.lastIndexOf('.')) + ".json";
        QFile in(set.files.at(i));
        if (!in.open(QIODevice::ReadOnly) || !WriteAndRename(folder + "/" + name, in.readAll()) ||
            !WriteAndRename(json, set.texts.at(i).toUtf8()))
            return -1;
    }
    const double ms = timer.nsecsElapsed() / 1e6;
    // The same data made durable, as the store makes it before it reports success.
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY);
    const bool synced = fd >= 0 && ::syncfs(fd) == 0;
    if (fd >= 0)
        ::close(fd);
    *syncedMs = synced ? timer.nsecsElapsed() / 1e6 : -1;
    return ms;
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

struct AddTimes
{
    double allMs = -1;
    double callsMs = 0;
    double slowestCallMs = 0;
};

// From the first AddImage until the last result, with the time inside the AddImage calls.
AddTimes TimeAdd(IPrjCore& prj, const AddSet& set)
{
    AddTimes times;
    AddResults results;
    prj.SetSaveCallback(&CountResult, &results);
    QElapsedTimer timer;
    timer.start();
    QElapsedTimer call;
    for (int i = 0; i < set.files.size(); ++i)
    {
        auto spImg = std::make_shared<pro::ImageInfo>();
        spImg->path = set.files.at(i);
        spImg->fileName = QFileInfo(spImg->path).fileName();
        spImg->addTime = kBatch;
        spImg->filter = QString::fromUtf8("手动添加");
        spImg->rois.append(SetRoi(i));
        call.start();
        prj.AddImage(spImg);
        const double ms = call.nsecsElapsed() / 1e6;
        times.callsMs += ms;
        times.slowestCallMs = std::max(times.slowestCallMs, ms);
        // A GUI keeps handling its events during an import; so does this loop now and then.
        if (i % 100 == 99)
            QCoreApplication::processEvents();
    }
    if (!WaitFor([&] { return results.done >= set.files.size(); }) || results.failed > 0)
        return AddTimes();
    times.allMs = timer.nsecsElapsed() / 1e6;
    prj.SetSaveCallback(nullptr, nullptr);
    return times;
}

bool AddProject(Nexil& core, const QString& id)
{
    auto spInfo = std::make_shared<pro::info>();
    spInfo->id = id;
    spInfo->name = id.toLower();
    spInfo->type = 1;
    return core.AddPro(spInfo);
}

// Adds kSyncImages images of the folder into a new project of the workspace; run under strace.
int RunAdds(const QString& ws, const QString& srcFolder)
{
    AddSet set;
    for (int i = 0; i < kSyncImages; ++i)
    {
        set.files.append(QString("%1/small%2.png").arg(srcFolder).arg(i, 5, 10, QChar('0')));
    }
    Nexil core;
    if (!QDir().mkpath(ws) || !core.Init(ws) || !AddProject(core, "SYNC"))
        return 1;
    core.OpenPro("SYNC");
    const auto spPrj = core.PrjCore().lock();
    const bool ok = spPrj && TimeAdd(*spPrj, set).allMs >= 0;
    core.OpenPro(QString());
    return ok ? 0 : 1;
}

// The sync calls of kSyncImages adds, from strace's summary; -1 without strace.
int CountSyncs(const QString& tempDir, const QString& srcFolder)
{
    const QString strace = QStandardPaths::findExecutable("strace");
    if (strace.isEmpty())
        return -1;
    const QString summary = tempDir + "/strace.txt";
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(strace, {"-f", "-c", "-o", summary, "-e", "trace=fsync,fdatasync,syncfs,sync,msync",
                         QCoreApplication::applicationFilePath(), kAddsArg, tempDir + "/syncws", srcFolder});
    if (!child.waitForFinished(600000) || child.exitCode() != 0)
        return -1;
    QFile file(summary);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    int syncs = 0;
    for (const QByteArray& line : file.readAll().split('\n'))
    {
        const QList<QByteArray> fields = line.simplified().split(' ');
        // "% time seconds usecs/call calls [errors] syscall"
        if (fields.size() >= 5 && fields.last().contains("sync") && fields.first() != "total")
        {
            syncs += fields.at(3).toInt();
            std::printf("  %s: %d\n", fields.last().constData(), fields.at(3).toInt());
        }
    }
    return syncs;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(&QuietHandler);
    if (argc == 4 && QByteArray(argv[1]) == kAddsArg)
        return RunAdds(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
    const int runs = std::max(1, argc > 1 ? QString(argv[1]).toInt() : 3);
    const bool openOnly = argc > 2 && QByteArray(argv[2]) == "open";

    QTemporaryDir dir;
    const QString ws = dir.path() + "/ws";
    if (!dir.isValid() || !QDir().mkpath(ws))
        return 1;
    std::printf("Preparing the data in %s ...\n", qPrintable(dir.path()));
    std::fflush(stdout);
    AddSet small;
    small.name = QString("%1 PNG 640x480").arg(kSmallImages);
    AddSet large;
    large.name = QString("%1 JPEG 2448x2048").arg(kLargeImages);
    if (!MakeProject(ws + "/open") ||
        (!openOnly && (!MakeSet(&small, dir.path() + "/src", "small", ".png", kSmallImages, 640, 480) ||
                       !MakeSet(&large, dir.path() + "/src", "large", ".jpg", kLargeImages, 2448, 2048))))
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

    std::vector<double> first, open, baseline;
    int rois = 0;
    for (int run = 0; run < runs; ++run)
    {
        const OpenTimes times = TimeOpen(core);
        first.push_back(times.firstMs);
        open.push_back(times.allMs);
        baseline.push_back(TimeBaseline(ws + "/open/PrjData.db", &rois));
        std::printf("open run %d: first batch %.1f ms, all %.1f ms, baseline %.1f ms\n", run + 1,
                    first.back(), open.back(), baseline.back());
        std::fflush(stdout);
        if (open.back() < 0 || baseline.back() < 0)
            return 1;
    }

    struct AddFigures
    {
        const AddSet* set;
        double floorMs;
        double syncedFloorMs;
        AddTimes times;
    };
    std::vector<AddFigures> adds;
    for (const AddSet* set : {&small, &large})
    {
        if (openOnly)
            break;
        WarmUp(*set);
        const QString id = set == &small ? "SMALL" : "LARGE";
        double syncedFloorMs = -1;
        const double floorMs = TimeFloor(*set, dir.path() + "/floor_" + id.toLower(), &syncedFloorMs);
        if (!AddProject(core, id))
            return 1;
        core.OpenPro(id);
        const auto spPrj = core.PrjCore().lock();
        if (!spPrj)
            return 1;
        const AddTimes times = TimeAdd(*spPrj, *set);
        core.OpenPro(QString());
        std::printf("add %s: %.1f ms, floor %.1f ms\n", qPrintable(set->name), times.allMs, floorMs);
        std::fflush(stdout);
        if (times.allMs < 0 || floorMs < 0)
            return 1;
        adds.push_back({set, floorMs, syncedFloorMs, times});
    }

    int syncs = -1;
    if (!openOnly)
    {
        std::printf("Disk syncs of %d adds (strace):\n", kSyncImages);
        std::fflush(stdout);
        syncs = CountSyncs(dir.path(), dir.path() + "/src");
    }

    const double firstMs = Median(first);
    const double openMs = Median(open);
    const double baselineMs = Median(baseline);
    std::printf("\nOpen %d images (%d ROIs), median of %d runs:\n", kOpenImages, rois, runs);
    std::printf("  first batch in the image map:            %8.1f ms   (goal: within 300 ms)\n", firstMs);
    std::printf("  all in the image map:                    %8.1f ms\n", openMs);
    std::printf("  baseline, sqlite3 C API + QJsonDocument: %8.1f ms\n", baselineMs);
    std::printf("  ratio all / baseline:                    %8.2f      (goal: at most 2)\n",
                openMs / baselineMs);
    for (const AddFigures& add : adds)
    {
        const int count = add.set->files.size();
        std::printf("Add %s (%.0f MB) until every result came back:\n", qPrintable(add.set->name),
                    add.set->bytes / 1e6);
        std::printf("  store:                                   %8.1f ms   (%.3f ms per image)\n",
                    add.times.allMs, add.times.allMs / count);
        std::printf("  floor, copy + write and rename:          %8.1f ms   (%.3f ms per image)\n",
                    add.floorMs, add.floorMs / count);
        std::printf("  ratio store / floor:                     %8.2f      (goal: at most 1.5)\n",
                    add.times.allMs / add.floorMs);
        std::printf("  floor with one syncfs at the end:        %8.1f ms   (ratio store / it: %.2f)\n",
                    add.syncedFloorMs, add.times.allMs / add.syncedFloorMs);
        std::printf("  inside AddImage (GUI thread):            %8.3f ms per image, slowest call %.3f ms "
                    "(goal: under 1 ms)\n",
                    add.times.callsMs / count, add.times.slowestCallMs);
    }
    if (openOnly)
        return 0;
    if (syncs < 0)
        std::printf("Disk syncs per %d adds: not counted (strace missing or failed)\n", kSyncImages);
    else
        std::printf("Disk syncs per %d adds: %d\n", kSyncImages, syncs);
    return 0;
}
