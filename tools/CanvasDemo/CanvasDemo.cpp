// Shows the image canvas and the image list models for a look at them by eye: a generated image
// with a few ROIs on the canvas (wheel to zoom, drag empty space to pan, click a ROI and drag it or
// its handles, the buttons draw new ones), its ROI list, the read-only panel of the testing page, and
// the table and tree of the annotation page with sample records.
//   CanvasDemo            the window
//   CanvasDemo zoomed     the same, zoomed in twice with a ROI selected

#include "Canvas/datawidget.h"
#include "ImgMarks/ImgROIListModel.h"
#include "ImgMarks/MarksImgModel.h"
#include "ImgMarks/MarksResultWid.h"
#include "ImgMarks/ROIListDelegate.h"
#include "ImgMarks/SourceImgModel.h"
#include "ImgMarks/StatusFilterProxyModel.h"

#include "ComUi/CheckBoxHeaderView.h"
#include "ComUi/Skin.h"
#include "Nexil/ROI/PolygonROIItem.h"
#include "Nexil/ROI/RectROIItem.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListView>
#include <QPainter>
#include <QPushButton>
#include <QRadialGradient>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>

namespace
{

QString MakePicture(const QString& dir)
{
    QImage image(1200, 800, QImage::Format_RGB888);
    QPainter painter(&image);
    QLinearGradient ground(0, 0, 1200, 800);
    ground.setColorAt(0, QColor(70, 80, 90));
    ground.setColorAt(1, QColor(150, 160, 150));
    painter.fillRect(image.rect(), ground);
    painter.setPen(QPen(QColor(200, 200, 190), 6));
    for (int x = 100; x < 1200; x += 200)
        painter.drawLine(x, 0, x, 800);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(40, 30, 30));
    painter.drawEllipse(QPointF(330, 260), 60, 40);
    painter.drawEllipse(QPointF(820, 520), 30, 90);
    painter.end();
    const QString path = dir + "/part.png";
    image.save(path);
    return path;
}

std::shared_ptr<pro::ImageInfo> Record(const QString& name, const QString& status, const QStringList& titles)
{
    auto record = std::make_shared<pro::ImageInfo>();
    record->fileName = name;
    record->filter = status;
    for (const QString& title : titles)
        record->rois << std::make_shared<RectROIItem>(QRectF(0, 0, 1, 1), 0, title);
    record->marked = !titles.isEmpty();
    return record;
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    InitComUiResources();
    LoadQSS({QStringLiteral(":/qss/common.css"), QStringLiteral(":/qss/titleBar.css")});
    QTemporaryDir dir;

    auto shown = std::make_shared<pro::ImageInfo>();
    shown->path = MakePicture(dir.path());
    shown->fileName = "part.png";
    shown->rois << std::make_shared<RectROIItem>(QRectF(260, 210, 140, 100), 0, "划痕")
                << std::make_shared<PolygonROIItem>(
                       QPolygonF({{790, 420}, {860, 430}, {870, 620}, {780, 610}}), 0, "脏污")
                << std::make_shared<RectROIItem>(QRectF(300, 240, 50, 40), 2, "点");

    QWidget window;
    window.setWindowTitle("CanvasDemo");
    auto* columns = new QHBoxLayout(&window);

    auto* left = new QVBoxLayout;
    SourceImgModel table;
    StatusFilterProxyModel proxy;
    proxy.setSourceModel(&table);
    table.appendImages({Record("a_001.png", "待确认", {}), Record("a_002.png", "待确认", {"划痕"}),
                        Record("b_001.png", "OK", {}), Record("a_003.png", "待确认", {})});
    table.setCurrentStatus("待确认");
    proxy.setFilterStatus("待确认");
    auto* tableView = new QTableView;
    auto* header = new CheckBoxHeaderView(Qt::Horizontal, tableView);
    tableView->setHorizontalHeader(header);
    tableView->setModel(&proxy);
    tableView->verticalHeader()->hide();
    tableView->setSelectionBehavior(QAbstractItemView::SelectRows);
    header->setSectionResizeMode(1, QHeaderView::Stretch);
    tableView->setColumnWidth(0, 40);
    tableView->setColumnWidth(2, 40);
    QObject::connect(header, &CheckBoxHeaderView::toggleAll, &table, &SourceImgModel::setStatusRowsChecked);
    QObject::connect(&table, &QAbstractItemModel::dataChanged, header,
                     [&] { header->setCheckState(table.headerCheckState()); });
    MarksImgModel tree;
    tree.addImages({Record("c_010.png", "", {"划痕", "脏污", "划痕"}), Record("c_002.png", "", {"脏污"}),
                    Record("c_005.png", "", {"划痕"})});
    auto* treeView = new QTreeView;
    treeView->setHeaderHidden(true);
    treeView->setModel(&tree);
    treeView->expandAll();
    left->addWidget(tableView);
    left->addWidget(treeView);
    columns->addLayout(left, 1);

    auto* middle = new QVBoxLayout;
    auto* tools = new QHBoxLayout;
    auto* btnRect = new QPushButton("矩形");
    auto* btnPolygon = new QPushButton("多边形");
    auto* btnFit = new QPushButton("缩放");
    auto* location = new QLabel;
    tools->addWidget(btnRect);
    tools->addWidget(btnPolygon);
    tools->addWidget(btnFit);
    tools->addWidget(location, 1);
    middle->addLayout(tools);
    auto* canvas = new DataWidget;
    middle->addWidget(canvas, 1);
    columns->addLayout(middle, 3);

    auto* right = new QVBoxLayout;
    ImgROIListModel rois;
    auto* roiView = new QListView;
    roiView->setModel(&rois);
    roiView->setItemDelegate(new ROIListDelegate(roiView));
    auto* panel = new MarksResultWid;
    right->addWidget(roiView, 1);
    right->addWidget(panel, 2);
    columns->addLayout(right, 1);

    const auto refreshList = [&]
    {
        rois.clearItems();
        for (const auto& roi : shown->rois)
            rois.addItem(roi);
    };
    QObject::connect(btnRect, &QPushButton::clicked, canvas, [canvas] { canvas->startDrawRect(QString()); });
    QObject::connect(btnPolygon, &QPushButton::clicked, canvas,
                     [canvas] { canvas->startDrawPolygon(QString()); });
    QObject::connect(btnFit, &QPushButton::clicked, canvas, &DataWidget::zoomFit);
    QObject::connect(canvas, &DataWidget::drawRoiCompleted, canvas,
                     [&](bool accept)
                     {
                         if (const auto roi = canvas->endDrawing(accept))
                         {
                             roi->setTitle("新建");
                             shown->rois << roi;
                             refreshList();
                             panel->showImage(shown);
                         }
                     });
    QObject::connect(canvas, &DataWidget::clickedROI, roiView,
                     [&](std::weak_ptr<ROIItem> roi) { roiView->setCurrentIndex(rois.indexOfItem(roi)); });
    QObject::connect(canvas, &DataWidget::roiChanging, panel, [&] { panel->canvas()->roiEdited(); });
    QObject::connect(canvas, &DataWidget::SignalSendLocation, location,
                     [location](QPointF q, QRgb rgb)
                     {
                         location->setText(QString("x %1  y %2  RGB %3,%4,%5")
                                               .arg(q.x(), 0, 'f', 1)
                                               .arg(q.y(), 0, 'f', 1)
                                               .arg(qRed(rgb))
                                               .arg(qGreen(rgb))
                                               .arg(qBlue(rgb)));
                     });

    window.resize(1560, 860);
    window.show();
    canvas->dataUpdated(shown);
    canvas->zoomFit();
    panel->showImage(shown);
    refreshList();
    if (argc > 1 && QString::fromLocal8Bit(argv[1]) == QLatin1String("zoomed"))
    {
        // After the first paint, which fits the image.
        QTimer::singleShot(300, canvas,
                           [&]
                           {
                               canvas->roiSelectedChanged(shown->rois.at(1));
                               canvas->zoomIn();
                               canvas->zoomIn();
                               canvas->setHighlight(true);
                           });
    }
    return app.exec();
}
