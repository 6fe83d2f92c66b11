// Measures an undo and a redo on the annotation page with many ROIs on the shown image (target:
// under 16 ms each): a move of one ROI and the deletion of all of them, each undone and redone
// repeatedly. "page" is the work of the undo or redo itself (the record, the ROI list, the store),
// "frame" adds the canvas repaint that follows.
// Usage: RoiUndoBench [rois] [rounds]

#include "Canvas/datawidget.h"
#include "ImgMarks/ImgMarksWid.h"

#include "ComUi/Skin.h"
#include "Nexil/NexilApi.h"
#include "Nexil/ProInfo.h"
#include "Nexil/ROI/RectROIItem.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QMouseEvent>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QToolButton>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace
{

struct Figures
{
    std::vector<double> page;
    std::vector<double> frame;
};

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

double Max(const std::vector<double>& v)
{
    return v.empty() ? 0 : *std::max_element(v.begin(), v.end());
}

void Time(QToolButton* button, DataWidget* canvas, Figures& figures)
{
    QElapsedTimer clock;
    clock.start();
    button->click();
    figures.page.push_back(clock.nsecsElapsed() / 1e6);
    canvas->repaint();
    figures.frame.push_back(clock.nsecsElapsed() / 1e6);
    QCoreApplication::processEvents();
}

void Send(DataWidget* canvas, QEvent::Type type, const QPointF& imagePoint)
{
    const QPointF pos = canvas->zoom().toWidget(imagePoint);
    QMouseEvent event(type, pos, canvas->mapToGlobal(pos.toPoint()), Qt::LeftButton,
                      type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(canvas, &event);
}

// Runs the edit once, undoes and redoes it rounds times, and leaves it undone.
bool Measure(const char* name, const std::function<void()>& edit, ImgMarksWid& page, DataWidget* canvas,
             int rounds, bool& withinTarget)
{
    auto* undo = page.findChild<QToolButton*>("btnUndo");
    auto* redo = page.findChild<QToolButton*>("btnRedo");
    edit();
    QCoreApplication::processEvents();
    if (!undo->isEnabled())
    {
        std::printf("%s: the edit left nothing to undo\n", name);
        return false;
    }
    Figures undone;
    Figures redone;
    for (int i = 0; i < rounds; ++i)
    {
        Time(undo, canvas, undone);
        Time(redo, canvas, redone);
    }
    // The next edit starts from all ROIs again.
    undo->click();
    std::printf("%-12s undo: page %.2f ms median, %.2f max; frame %.2f median, %.2f max\n", name,
                Median(undone.page), Max(undone.page), Median(undone.frame), Max(undone.frame));
    std::printf("%-12s redo: page %.2f ms median, %.2f max; frame %.2f median, %.2f max\n", name,
                Median(redone.page), Max(redone.page), Median(redone.frame), Max(redone.frame));
    withinTarget = withinTarget && Median(undone.page) < 16 && Median(redone.page) < 16;
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    InitComUiResources();
    const int count = argc > 1 ? std::max(1, QString(argv[1]).toInt()) : 1000;
    const int rounds = argc > 2 ? std::max(1, QString(argv[2]).toInt()) : 20;
    QTemporaryDir dir;
    QDir().mkpath(dir.filePath("images"));
    QImage picture(2448, 2048, QImage::Format_RGB888);
    picture.fill(QColor(70, 80, 90));
    picture.save(dir.filePath("images/part.png"));

    CreateNexil();
    auto spInfo = std::make_shared<pro::info>();
    spInfo->id = "B1";
    spInfo->name = "bench";
    spInfo->type = 2;
    QDir().mkpath(dir.filePath("ws"));
    if (!NexilIns().lock()->Init(dir.filePath("ws")) || !NexilIns().lock()->AddPro(spInfo))
        return 1;
    NexilIns().lock()->OpenPro("B1");

    bool withinTarget = true;
    {
        ImgMarksWid page;
        page.SetConfigFile(dir.filePath("Config.ini"));
        page.resize(1400, 800);
        page.show();
        auto* table = page.findChild<QTableView*>("tblViewUnmarks");
        auto* canvas = page.findChild<DataWidget*>("widImgView");
        emit page.Signal_LoadImgPath(dir.filePath("images"));
        QElapsedTimer waited;
        waited.start();
        while (table->model()->rowCount() < 1 && waited.elapsed() < 10000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        if (table->model()->rowCount() < 1)
            return 1;
        table->setCurrentIndex(table->model()->index(0, 1));
        const auto spImg = canvas->record().lock();
        if (!spImg)
            return 1;
        // A grid of rectangles over the whole image, stored once so the record is in the project.
        const int columns = 40;
        for (int i = 0; i < count; ++i)
            spImg->rois.append(std::make_shared<RectROIItem>(
                QRectF(10 + (i % columns) * 60, 10 + (i / columns) * 60, 40, 40), 0, QStringLiteral("划痕")));
        page.Slot_BtnSaveMarkClicked();
        canvas->zoomFit();
        canvas->repaint();

        std::printf("%d ROIs on a %dx%d image, %d rounds\n", count, picture.width(), picture.height(),
                    rounds);
        Measure(
            "move one",
            [&]
            {
                Send(canvas, QEvent::MouseButtonPress, QPointF(30, 30));
                for (int i = 1; i <= 10; ++i)
                    Send(canvas, QEvent::MouseMove, QPointF(30 + i, 30 + i));
                Send(canvas, QEvent::MouseButtonRelease, QPointF(40, 40));
            },
            page, canvas, rounds, withinTarget);
        Measure(
            "delete all", [&] { page.Slot_BtnDelImgAllMark(); }, page, canvas, rounds, withinTarget);
        Measure(
            "mark OK", [&] { page.Slot_BtnMarkToOKClicked(); }, page, canvas, rounds, withinTarget);
    }
    ReleaseNexil();
    return withinTarget ? 0 : 2;
}
