// Shows the UI kit for a look at it by eye:
//   KitDemo            a frameless skinned window whose buttons open the message windows
//   KitDemo messages   one message window of each kind and the wait window side by side
//   KitDemo ask        the window with a question over it

#include "ComUi/CKBtn.h"
#include "ComUi/CMsgWnd.h"
#include "ComUi/CheckBoxHeaderView.h"
#include "ComUi/ComboListModel.h"
#include "ComUi/FramelessWindow.h"
#include "ComUi/GrayBtn.h"
#include "ComUi/GreenBtn.h"
#include "ComUi/MainBtn.h"
#include "ComUi/PathWid.h"
#include "ComUi/PlainTestWid.h"
#include "ComUi/SecBtn.h"
#include "ComUi/SingleSelectListView.h"
#include "ComUi/Skin.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSlider>
#include <QStandardItemModel>
#include <QStringListModel>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>

#include <functional>

namespace
{

QWidget* MakeTitleBar(QDialog* window, const QString& title)
{
    auto* bar = new QWidget(window);
    bar->setObjectName(QStringLiteral("widTitleBar"));
    bar->setFixedHeight(64);
    auto* layout = new QHBoxLayout(bar);
    layout->setContentsMargins(16, 0, 0, 0);
    layout->setSpacing(0);
    auto* label = new QLabel(title, bar);
    label->setObjectName(QStringLiteral("lbTitle"));
    layout->addWidget(label);
    layout->addStretch();
    auto* btnMin = new QPushButton(bar);
    btnMin->setObjectName(QStringLiteral("btnMin"));
    btnMin->setFixedSize(52, 52);
    auto* btnClose = new QPushButton(bar);
    btnClose->setObjectName(QStringLiteral("btnClose"));
    btnClose->setFixedSize(52, 52);
    layout->addWidget(btnMin);
    layout->addWidget(btnClose);
    QObject::connect(btnMin, &QPushButton::clicked, window, &QWidget::showMinimized);
    QObject::connect(btnClose, &QPushButton::clicked, window, &QWidget::close);
    return bar;
}

QWidget* MakeControls(QWidget* parent)
{
    auto* page = new QWidget(parent);
    auto* grid = new QGridLayout(page);
    grid->setSpacing(12);

    auto* btnMain = new MainBtn(QStringLiteral("新建工程"), page);
    btnMain->setIcon(QIcon(QStringLiteral(":/image/new.png")));
    btnMain->setIconSize(QSize(28, 28));
    btnMain->setMinimumSize(130, 42);
    auto* btnMainOff = new MainBtn(QStringLiteral("修改"), page);
    btnMainOff->setIcon(QIcon(QStringLiteral(":/image/Mod.png")));
    btnMainOff->setIconSize(QSize(32, 32));
    btnMainOff->setMinimumSize(100, 42);
    btnMainOff->setEnabled(false);
    auto* btnSec = new SecBtn(QStringLiteral("取消"), page);
    btnSec->setMinimumSize(100, 42);
    grid->addWidget(btnMain, 0, 0);
    grid->addWidget(btnMainOff, 0, 1);
    grid->addWidget(btnSec, 0, 2);

    auto* pages = new QButtonGroup(page);
    int column = 0;
    for (const char* text : {"图片标注", "模型训练", "模型测试"})
    {
        auto* btn = new CKBtn(QString::fromUtf8(text), page);
        btn->setCheckable(true);
        btn->setMinimumSize(120, 42);
        pages->addButton(btn);
        grid->addWidget(btn, 1, column++);
    }
    pages->buttons().first()->setChecked(true);

    auto* btnGo = new GreenBtn(QStringLiteral("开始训练"), page);
    btnGo->setMinimumHeight(56);
    auto* btnStop = new GrayBtn(QStringLiteral("停止训练"), page);
    btnStop->setMinimumHeight(56);
    grid->addWidget(btnGo, 2, 0);
    grid->addWidget(btnStop, 2, 1);

    auto* edit = new QLineEdit(page);
    edit->setPlaceholderText(QStringLiteral("请输入关键字"));
    edit->setMinimumHeight(42);
    auto* btnFind = new QToolButton(page);
    btnFind->setText(QStringLiteral("搜索"));
    btnFind->setIcon(QIcon(QStringLiteral(":/image/Find.png")));
    btnFind->setIconSize(QSize(28, 28));
    btnFind->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    grid->addWidget(edit, 3, 0, 1, 2);
    grid->addWidget(btnFind, 3, 2);

    auto* rdoRow = new QHBoxLayout;
    auto* rdoGroup = new QButtonGroup(page);
    for (const char* text : {"OK", "NG", "待确认", "手动添加"})
    {
        auto* rdo = new QRadioButton(QString::fromUtf8(text), page);
        rdoGroup->addButton(rdo);
        rdoRow->addWidget(rdo);
    }
    rdoGroup->buttons().at(2)->setChecked(true);
    grid->addLayout(rdoRow, 4, 0, 1, 3);

    auto* combo = new QComboBox(page);
    auto* models = new ComboListModel(combo);
    models->AddItems({{QStringLiteral("V1.0 2025-03-07"), QStringLiteral("A1")},
                      {QStringLiteral("V2.0 2025-03-08"), QStringLiteral("B2")}});
    combo->setModel(models);
    auto* check = new QCheckBox(QStringLiteral("显示标注"), page);
    check->setChecked(true);
    auto* slider = new QSlider(Qt::Horizontal, page);
    slider->setValue(40);
    grid->addWidget(combo, 5, 0);
    grid->addWidget(check, 5, 1);
    grid->addWidget(slider, 5, 2);

    auto* path = new PathWid(page);
    path->SetPath(QStringLiteral("/home/operator/images/0001.png"));
    grid->addWidget(path, 6, 0, 1, 3);
    return page;
}

QWidget* MakeViews(QWidget* parent)
{
    auto* tabs = new QTabWidget(parent);

    auto* table = new QTableView(tabs);
    auto* header = new CheckBoxHeaderView(Qt::Horizontal, table);
    table->setHorizontalHeader(header);
    auto* model = new QStandardItemModel(0, 3, table);
    model->setHorizontalHeaderLabels({QString(), QStringLiteral("名称"), QStringLiteral("状态")});
    for (int i = 1; i <= 6; ++i)
    {
        auto* mark = new QStandardItem(QIcon(QStringLiteral(":/image/marks.png")), QString());
        mark->setCheckable(true);
        mark->setCheckState(i % 2 ? Qt::Checked : Qt::Unchecked);
        model->appendRow({mark, new QStandardItem(QStringLiteral("%1.png").arg(i, 4, 10, QLatin1Char('0'))),
                          new QStandardItem(i % 3 ? QStringLiteral("待确认") : QStringLiteral("OK"))});
    }
    table->setModel(model);
    table->verticalHeader()->hide();
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    header->setStretchLastSection(true);
    header->resizeSection(0, 60);
    table->selectRow(1);
    QObject::connect(header, &CheckBoxHeaderView::toggleAll, model,
                     [model](Qt::CheckState state)
                     {
                         for (int r = 0; r < model->rowCount(); ++r)
                             model->item(r, 0)->setCheckState(state == Qt::Unchecked ? Qt::Unchecked
                                                                                     : Qt::Checked);
                     });
    tabs->addTab(table, QStringLiteral("未标注"));

    auto* tree = new QTreeView(tabs);
    auto* treeModel = new QStandardItemModel(tree);
    for (const char* group : {"20250307093000", "20250308101500"})
    {
        auto* node = new QStandardItem(QString::fromUtf8("%1（2张）").arg(QString::fromUtf8(group)));
        for (int i = 1; i <= 2; ++i)
            node->appendRow(new QStandardItem(QIcon(QStringLiteral(":/icons/project.png")),
                                              QStringLiteral("img_%1.png").arg(i)));
        treeModel->appendRow(node);
    }
    tree->setModel(treeModel);
    tree->setHeaderHidden(true);
    tree->expandAll();
    tabs->addTab(tree, QStringLiteral("已标注"));
    return tabs;
}

QWidget* MakeCategories(QWidget* parent)
{
    auto* box = new QWidget(parent);
    auto* layout = new QVBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* caption = new QLabel(QStringLiteral("所有类别"), box);
    layout->addWidget(caption);
    auto* list = new SingleSelectListView(box);
    for (const char* text : {"划痕", "脏污", "缺角", "气泡"})
        list->AddItem(QString::fromUtf8(text));
    list->SetCurrentRow(1);
    layout->addWidget(list);

    auto* rois = new QListView(box);
    auto* roiModel = new QStandardItemModel(rois);
    roiModel->appendRow(
        new QStandardItem(QIcon(QStringLiteral(":/img/Resources/Rect.png")), QStringLiteral("划痕")));
    roiModel->appendRow(
        new QStandardItem(QIcon(QStringLiteral(":/img/Resources/Polygon.png")), QStringLiteral("脏污")));
    roiModel->appendRow(
        new QStandardItem(QIcon(QStringLiteral(":/images/marks.png")), QStringLiteral("缺角")));
    rois->setModel(roiModel);
    layout->addWidget(rois);
    return box;
}

// A window built the way the program's windows are: frameless, shadowed panel, drawn title bar.
QDialog* MakeSkinnedWindow()
{
    auto* window = new QDialog(nullptr, Qt::Dialog | Qt::FramelessWindowHint | Qt::CustomizeWindowHint);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setAttribute(Qt::WA_TranslucentBackground);
    window->resize(1180, 860);
    auto* outer = new QVBoxLayout(window);
    outer->setContentsMargins(10, 10, 10, 10);
    auto* panel = new QWidget(window);
    panel->setObjectName(QStringLiteral("widShadow"));
    AddPanelShadow(panel, QColor(QStringLiteral("#808080")), 15);
    outer->addWidget(panel);

    auto* layout = new QVBoxLayout(panel);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(MakeTitleBar(window, QStringLiteral("界面组件")));
    auto* content = new QWidget(panel);
    content->setObjectName(QStringLiteral("widContent"));
    layout->addWidget(content);

    auto* body = new QGridLayout(content);
    body->setContentsMargins(16, 16, 16, 16);
    body->setSpacing(16);
    body->addWidget(MakeControls(content), 0, 0);
    body->addWidget(MakeCategories(content), 0, 1, 2, 1);
    body->addWidget(MakeViews(content), 1, 0);
    auto* log = new PlainTestWid(content);
    log->setMinimumHeight(120);
    log->AppendLine(QStringLiteral("epoch 1 loss 0.8312"));
    log->AppendLine(QStringLiteral("epoch 2 loss 0.6127"));
    body->addWidget(log, 2, 0, 1, 2);

    auto* actions = new QHBoxLayout;
    const QList<QPair<QString, std::function<void()>>> demos{
        {QStringLiteral("完成"),
         [window] {
             CMsgWnd::Information(window, QStringLiteral("提示"), QStringLiteral("保存成功"),
                                  NOTIFY_COMPLETE);
         }},
        {QStringLiteral("错误"),
         [window] {
             CMsgWnd::Information(window, QStringLiteral("错误"), QStringLiteral("无法连接训练服务"),
                                  NOTIFY_ERROR);
         }},
        {QStringLiteral("提问"),
         [window]
         {
             const int answer =
                 CMsgWnd::Question(window, QStringLiteral("提示"), QStringLiteral("确定删除吗？"));
             CMsgWnd::Information(window, QStringLiteral("提示"), QStringLiteral("回答：%1").arg(answer));
         }},
        {QStringLiteral("等待"),
         [window]
         {
             CMsgWnd::ShowWait(window, QString(), QStringLiteral("正在导入图片，请稍候…"), NOTIFY_WAIT,
                               QString(), QString(),
                               [](CMsgWnd* wnd) { QTimer::singleShot(5000, wnd, &QWidget::close); });
         }},
    };
    for (const auto& demo : demos)
    {
        auto* btn = new SecBtn(demo.first, content);
        btn->setMinimumSize(100, 42);
        QObject::connect(btn, &QPushButton::clicked, window, demo.second);
        actions->addWidget(btn);
    }
    actions->addStretch();
    body->addLayout(actions, 3, 0, 1, 2);

    AttachFrameHelper(window, 60, WindowResize::Fixed);
    return window;
}

// The message windows side by side on a screen of 1920 x 1080.
void ShowMessages()
{
    struct Sample
    {
        int kind;
        QString title;
        QString text;
        bool question;
    };
    const QList<Sample> samples{
        {NOTIFY_COMPLETE, QStringLiteral("提示"), QStringLiteral("保存成功"), false},
        {NOTIFY_WARNING, QStringLiteral("提示"), QStringLiteral("工程名已存在，请更换。"), false},
        {NOTIFY_ABOUT, QStringLiteral("提示"), QStringLiteral("保存失败！"), false},
        {NOTIFY_QUERY, QStringLiteral("提示"),
         QStringLiteral("删除：外观检测\n工程删除后工程目录需手动删除，确定删除吗？"), true},
        {42, QStringLiteral("提示"), QStringLiteral("没有图标的消息"), false},
        {NOTIFY_ERROR, QStringLiteral("错误"),
         QStringLiteral("无法读取图片：\nD:/MyImg/line_07/camera_2/") + QString(60, QLatin1Char('x')) +
             QStringLiteral(".png"),
         false},
    };
    // Left to right, a new row where the screen ends.
    const int screenWidth = QGuiApplication::primaryScreen()->geometry().width();
    QPoint at(10, 10);
    int rowHeight = 0;
    for (const Sample& s : samples)
    {
        auto* wnd = new CMsgWnd(nullptr, s.title, s.text, s.kind);
        wnd->setAttribute(Qt::WA_DeleteOnClose);
        if (!s.question)
            wnd->findChild<QWidget*>(QStringLiteral("btnCancel"))->hide();
        if (at.x() + wnd->width() > screenWidth)
        {
            at = QPoint(10, at.y() + rowHeight + 20);
            rowHeight = 0;
        }
        wnd->move(at);
        wnd->show();
        rowHeight = qMax(rowHeight, wnd->height());
        at.rx() += wnd->width() + 20;
    }
    CMsgWnd::ShowWait(nullptr, QString(), QStringLiteral("正在导入图片，请稍候…"), NOTIFY_WAIT, QString(),
                      QString(), [at](CMsgWnd* wnd) { wnd->move(at); });
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    InitComUiResources();
    LoadQSS({QStringLiteral(":/qss/common.css"), QStringLiteral(":/qss/titleBar.css")});
    if (argc > 1 && QString::fromLocal8Bit(argv[1]) == QLatin1String("messages"))
    {
        ShowMessages();
        return app.exec();
    }
    QDialog* window = MakeSkinnedWindow();
    window->show();
    // "ask": the question of the category list over the window, as the program shows it.
    if (argc > 1 && QString::fromLocal8Bit(argv[1]) == QLatin1String("ask"))
    {
        QTimer::singleShot(300, window,
                           [window] {
                               CMsgWnd::Question(window, QStringLiteral("提示"),
                                                 QStringLiteral("确定删除标注类别：脏污吗？"));
                           });
    }
    return app.exec();
}
