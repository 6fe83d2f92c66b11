#include "ProMngWid.h"
#include "ui_ProMngWid.h"

#include "ProInfoWid.h"
#include "ProjectFolder.h"
#include "ProjectViewModel.h"

#include "ComUi/CMsgWnd.h"
#include "ComUi/ElidedTextDelegate.h"
#include "ComUi/FramelessWindow.h"
#include "Nexil/NexilApi.h"

#include <QAction>
#include <QCursor>
#include <QDebug>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QPersistentModelIndex>
#include <QTimer>

namespace
{

bool IsEnter(const QKeyEvent* event)
{
    return event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
}

} // namespace

ProMngWid::ProMngWid(QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::ProMngWidClass>()), m_model(new ProjectViewModel(this)),
      m_menu(new QMenu(this))
{
    ui->setupUi(this);
    SetUpFramelessDialog(this, 60, WindowResize::Fixed, WindowBackground::Translucent);
    AddPanelShadow(ui->widShadow, QColor(QStringLiteral("#808080")), 15);

    m_model->SetHeaders({tr("名称"), tr("类型"), tr("备注"), tr("状态")});
    ui->tableView->setModel(m_model);
    ui->tableView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ui->tableView->setSelectionBehavior(QAbstractItemView::SelectRows);
    ui->tableView->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    ui->tableView->horizontalHeader()->setSectionResizeMode(2, QHeaderView::Stretch);
    ui->tableView->verticalHeader()->hide();
    // Long names and notes with line breaks stay on their row's line; the tip shows them whole.
    ui->tableView->setItemDelegate(new ElidedTextDelegate(ui->tableView));
    ui->tableView->installEventFilter(this);

    QAction* delAction = m_menu->addAction(tr("删除"));
    connect(delAction, &QAction::triggered, this, &ProMngWid::Slot_DelPrjItem);
    ui->tableView->setContextMenuPolicy(Qt::CustomContextMenu);

    QTimer::singleShot(kInitialFillMs, this, &ProMngWid::Slot_BtnSchProClicked);

    connect(ui->btnClose, &QPushButton::clicked, this, &QDialog::close);
    connect(ui->btnMin, &QPushButton::clicked, this, &QWidget::showMinimized);
    connect(ui->btnNewPrj, &QPushButton::clicked, this, &ProMngWid::Slot_BtnNewPrjClicked);
    connect(ui->btnSchPro, &QToolButton::clicked, this, &ProMngWid::Slot_BtnSchProClicked);
    connect(ui->edtKeyWord, &QLineEdit::returnPressed, this, &ProMngWid::Slot_BtnSchProClicked);
    connect(ui->tableView, &QTableView::doubleClicked, this, &ProMngWid::Slot_TableViewItemDoubleClicked);
    connect(ui->tableView, &QTableView::customContextMenuRequested, this, &ProMngWid::Slot_ShowContextMenu);
}

ProMngWid::~ProMngWid() = default;

void ProMngWid::Slot_BtnSchProClicked()
{
    const auto spCore = NexilIns().lock();
    if (!spCore)
        return;
    m_model->ClearProjects();
    const QString keyword = ui->edtKeyWord->text();
    for (const auto& spPInfo : spCore->ProList())
    {
        if (spPInfo->name.contains(keyword) || spPInfo->tips.contains(keyword))
            m_model->AddProject(spPInfo);
    }
}

void ProMngWid::Slot_BtnNewPrjClicked()
{
    ProInfoWid dialog(this);
    dialog.exec();
    Slot_BtnSchProClicked();
}

void ProMngWid::Slot_OpenProject(const QModelIndex& index)
{
    Open(index, true);
}

void ProMngWid::Slot_TableViewItemDoubleClicked(const QModelIndex& index)
{
    Open(index, false);
}

void ProMngWid::Open(const QModelIndex& index, bool needId)
{
    const auto spPInfo = m_model->ProjectAt(index);
    if (!spPInfo || (needId && spPInfo->id.isEmpty()))
        return;
    const auto spCore = NexilIns().lock();
    if (!spCore)
        return;
    spCore->OpenPro(spPInfo->id);
    const auto spPrj = PrjIns().lock();
    const QString folder = spPrj ? spPrj->PrjPath() : QString();
    const QString problem = spPrj ? ProjectFolder::OpenProblem(folder) : tr("工程不在工程列表中。");
    if (problem.isEmpty())
    {
        accept();
        return;
    }
    qCritical().noquote() << "Cannot open the project" << spPInfo->name << "in" << folder << ":" << problem;
    // An unknown id closes the project that failed, with its worker.
    spCore->OpenPro(QString());
    CMsgWnd::Information(this, tr("错误"),
                         tr("无法打开工程：%1\n文件夹：%2\n%3").arg(spPInfo->name, folder, problem),
                         NOTIFY_ERROR);
}

void ProMngWid::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape)
    {
        if (!ui->edtKeyWord->text().isEmpty())
        {
            ui->edtKeyWord->clear();
            Slot_BtnSchProClicked();
        }
        event->accept();
        return;
    }
    if (IsEnter(event))
    {
        if (auto* button = qobject_cast<QAbstractButton*>(focusWidget()))
            button->click();
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

bool ProMngWid::eventFilter(QObject* watched, QEvent* event)
{
    // Reached by the keyboard, the table shows which row Enter would open.
    if (watched == ui->tableView && event->type() == QEvent::FocusIn &&
        static_cast<QFocusEvent*>(event)->reason() != Qt::MouseFocusReason &&
        !ui->tableView->selectionModel()->hasSelection() && m_model->rowCount() > 0)
    {
        const QModelIndex current = ui->tableView->currentIndex();
        ui->tableView->selectRow(current.isValid() ? current.row() : 0);
    }
    if (watched == ui->tableView && event->type() == QEvent::KeyPress &&
        IsEnter(static_cast<QKeyEvent*>(event)))
    {
        const QModelIndex current = ui->tableView->currentIndex();
        if (current.isValid() && ui->tableView->selectionModel()->isRowSelected(current.row(), QModelIndex()))
            Slot_TableViewItemDoubleClicked(current);
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void ProMngWid::Slot_DelPrjItem(bool checked)
{
    Q_UNUSED(checked);
    // The question runs an event loop of its own; the row is found again afterwards.
    const QPersistentModelIndex index(ui->tableView->currentIndex());
    const auto spPInfo = m_model->ProjectAt(index);
    if (!spPInfo)
        return;
    if (!NexilIns().lock())
        return;
    const int answer = CMsgWnd::Question(
        this, tr("提示"), tr("删除：%1\n工程删除后工程目录需手动删除，确定删除吗？").arg(spPInfo->name),
        NOTIFY_QUERY);
    if (answer != QDialog::Accepted)
        return;
    m_model->RemoveProject(index);
    if (const auto spCore = NexilIns().lock())
        spCore->DelPro(spPInfo->id);
}

void ProMngWid::Slot_ShowContextMenu(const QPoint& pos)
{
    if (ui->tableView->indexAt(pos).isValid())
        m_menu->popup(QCursor::pos());
}
