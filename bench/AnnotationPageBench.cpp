// Measures how well the annotation page keeps answering while a large folder is scanned: 20,000
// images (a tenth with an annotation file) are added as a folder on the page of an open project,
// and a 5 ms timer in the GUI thread records its longest lateness until every image is listed
// (target: no stall longer than 100 ms).
// Usage: AnnotationPageBench [count]

#include "ImgMarks/ImgMarksWid.h"

#include "ComUi/Skin.h"
#include "Nexil/NexilApi.h"
#include "Nexil/ProInfo.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    InitComUiResources();
    const int count = argc > 1 ? std::max(1, QString(argv[1]).toInt()) : 20000;
    QTemporaryDir dir;
    const QString images = dir.filePath("images");
    QImage picture(64, 48, QImage::Format_RGB888);
    picture.fill(Qt::gray);
    QDir().mkpath(images);
    picture.save(images + "/seed.png");
    for (int i = 0; i < count; ++i)
    {
        const QString folder = QStringLiteral("%1/f%2").arg(images).arg(i / 200);
        QDir().mkpath(folder);
        const QString path = QStringLiteral("%1/img_%2.png").arg(folder).arg(i);
        QFile::copy(images + "/seed.png", path);
        if (i % 10 == 0)
        {
            QFile json(QStringLiteral("%1/img_%2.json").arg(folder).arg(i));
            json.open(QIODevice::WriteOnly);
            json.write(
                R"({"imagePath":"x.png","shapes":[{"label":"a","shape_type":"rectangle","points":[[1,1],[9,9]]}]})");
        }
    }
    QFile::remove(images + "/seed.png");

    CreateNexil();
    auto spInfo = std::make_shared<pro::info>();
    spInfo->id = "B1";
    spInfo->name = "bench";
    spInfo->type = 2;
    QDir().mkpath(dir.filePath("ws"));
    if (!NexilIns().lock()->Init(dir.filePath("ws")) || !NexilIns().lock()->AddPro(spInfo))
        return 1;
    NexilIns().lock()->OpenPro("B1");

    int result = 0;
    {
        ImgMarksWid page;
        page.SetConfigFile(dir.filePath("Config.ini"));
        page.resize(1400, 800);
        page.show();
        auto* table = page.findChild<QTableView*>("tblViewUnmarks");

        QElapsedTimer clock;
        qint64 last = 0;
        qint64 worst = 0;
        QTimer probe;
        probe.setInterval(5);
        QObject::connect(&probe, &QTimer::timeout, &page,
                         [&]
                         {
                             const qint64 now = clock.elapsed();
                             worst = std::max(worst, now - last - probe.interval());
                             last = now;
                             if (table->model()->rowCount() == count)
                                 app.quit();
                         });
        QTimer::singleShot(ImgMarksWid::kInitialLoadDelayMs + 200, &page,
                           [&]
                           {
                               clock.start();
                               probe.start();
                               emit page.Signal_LoadImgPath(images);
                           });
        app.exec();
        std::printf("%d images listed in %lld ms; longest GUI-thread stall %lld ms (target 100 ms)\n", count,
                    static_cast<long long>(clock.elapsed()), static_cast<long long>(worst));
        result = worst <= 100 ? 0 : 2;
    }
    ReleaseNexil();
    return result;
}
