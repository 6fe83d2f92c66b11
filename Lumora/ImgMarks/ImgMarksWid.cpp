#include "ImgMarksWid.h"
#include "ui_ImgMarksWid.h"

#include "AnnotationSession.h"
#include "DisplayAdjustWid.h"
#include "ExportSetWid.h"
#include "ImageOrder.h"
#include "ImgROIListModel.h"
#include "ImgStatus.h"
#include "LoadImgWork.h"
#include "MarksImgModel.h"
#include "ProjectImport.h"
#include "ROIListDelegate.h"
#include "SourceImgModel.h"
#include "StatusFilterProxyModel.h"

#include "ComLib/ComFunc.h"
#include "ComLib/DesktopPlatform.h"
#include "ComLib/IniFile.h"
#include "ComUi/CMsgWnd.h"
#include "ComUi/CategoryPalette.h"
#include "ComUi/CheckBoxHeaderView.h"
#include "ComUi/SingleSelectListView.h"
#include "Nexil/ImageFiles.h"
#include "Nexil/NexilApi.h"
#include "Nexil/NexilConst.h"
#include "Nexil/ROI/ROIItem.h"

#include <QButtonGroup>
#include <QCursor>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QPixmap>
#include <QSet>
#include <QShortcut>
#include <QStandardPaths>
#include <QTimer>
#include <QUndoStack>
#include <QWidgetAction>

#include <spdlog/spdlog.h>

#include <cmath>

namespace
{

constexpr int kNarrowColumnWidth = 40;

// Registered while the page lives: the core calls it in the GUI thread after every stored add or save.
void PageSaveCallback(const QString& id, bool bSucc, const QString& msg, void* userData)
{
    emit static_cast<ImgMarksWid*>(userData)->Signal_SaveMarkResult(id, bSucc, msg);
}

// Registered when the page goes away with a store still under way, so its failure is not silent.
void OrphanSaveCallback(const QString& id, bool bSucc, const QString& msg, void*)
{
    if (bSucc)
        return;
    qCritical().noquote() << "Storing image" << id << "failed after the annotation page closed:" << msg;
    CMsgWnd::Information(nullptr, QObject::tr("错误"), msg, NOTIFY_ERROR);
}

} // namespace

ImgMarksWid::ImgMarksWid(QWidget* parent)
    : QWidget(parent), ui(std::make_unique<Ui::ImgMarksWidClass>()), m_statusGroup(new QButtonGroup(this)),
      m_shapeGroup(new QButtonGroup(this)), m_srcModel(new SourceImgModel(this)),
      m_proxy(new StatusFilterProxyModel(this)), m_marksModel(new MarksImgModel(this)),
      m_roiModel(new ImgROIListModel(this)), m_menu(new QMenu(this)), m_adjustMenu(new QMenu(this)),
      m_adjustWid(new DisplayAdjustWid(m_adjustMenu)),
      m_reloadKey(new QShortcut(QKeySequence(Qt::Key_F5), this)),
      m_undoKey(new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z), this)),
      m_redoKey(new QShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), this)),
      m_deleteKey(new QShortcut(QKeySequence(Qt::Key_Delete), this)),
      m_backspaceKey(new QShortcut(QKeySequence(Qt::Key_Backspace), this)),
      m_session(new AnnotationSession(this)),
      m_configFile(QString::fromStdString(comlib::RootDir()) + nexil::kConfigFile)
{
    qRegisterMetaType<QList<std::shared_ptr<pro::ImageInfo>>>("QList<std::shared_ptr<pro::ImageInfo>>");
    qRegisterMetaType<QItemSelection>("QItemSelection");

    ui->setupUi(this);
    setObjectName(QStringLiteral("ImgMarksWid"));

    ui->widInputMarkType->hide();
    ui->widImgMarks->hide();
    ui->btnSaveMark->hide();

    SetupViews();
    SetupImportNote();
    SetupLoader();
    SetupShapeButtons();
    SetupShortcuts();
    SetupDisplayAdjust();
    SetupSession();

    ui->rdoUnConfirm->setChecked(true);
    m_proxy->setFilterStatus(ImgStatus::Text(ImgStatus::kUnconfirmed));
    m_srcModel->setCurrentStatus(ImgStatus::Text(ImgStatus::kUnconfirmed));

    QTimer::singleShot(kInitialLoadDelayMs, this, &ImgMarksWid::InitialLoad);

    ConnectWidgets();
    ConnectCanvas();
}

ImgMarksWid::~ImgMarksWid()
{
    // The last shown image's changes since its last store would be lost otherwise.
    Slot_BtnSaveMarkClicked();
    if (const auto spPrj = PrjIns().lock())
        spPrj->SetSaveCallback(&OrphanSaveCallback, nullptr);
}

void ImgMarksWid::SetupViews()
{
    m_statusGroup->addButton(ui->rdoNG);
    m_statusGroup->addButton(ui->rdoOK);
    m_statusGroup->addButton(ui->rdoUnConfirm);
    m_statusGroup->addButton(ui->rdoAddManual);
    m_shapeGroup->addButton(ui->btnPolygon);
    m_shapeGroup->addButton(ui->btnRect);

    auto* header = new CheckBoxHeaderView(Qt::Horizontal, ui->tblViewUnmarks);
    header->setSectionsClickable(true);
    m_proxy->setSourceModel(m_srcModel);
    ui->tblViewUnmarks->setHorizontalHeader(header);
    ui->tblViewUnmarks->setModel(m_proxy);
    ui->tblViewUnmarks->setSelectionBehavior(QAbstractItemView::SelectRows);
    ui->tblViewUnmarks->setSelectionMode(QAbstractItemView::SingleSelection);
    ui->tblViewUnmarks->verticalHeader()->hide();
    header->setSectionResizeMode(SourceImgModel::kNameColumn, QHeaderView::Stretch);
    ui->tblViewUnmarks->setColumnWidth(SourceImgModel::kCheckColumn, kNarrowColumnWidth);
    ui->tblViewUnmarks->setColumnWidth(SourceImgModel::kMarkedColumn, kNarrowColumnWidth);
    connect(header, &CheckBoxHeaderView::toggleAll, m_srcModel, &SourceImgModel::setStatusRowsChecked);
    connect(m_srcModel, &QAbstractItemModel::dataChanged, header,
            [this, header] { header->setCheckState(m_srcModel->headerCheckState()); });

    ui->treeViewMarks->setModel(m_marksModel);
    ui->treeViewMarks->setHeaderHidden(true);
    ui->treeViewMarks->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ui->treeViewMarks->setExpandsOnDoubleClick(false);
    ui->treeViewMarks->setContextMenuPolicy(Qt::CustomContextMenu);
    ui->treeViewMarks->expandAll();

    ui->lstWidCurImgMark->setSelectionMode(QAbstractItemView::SingleSelection);
    ui->lstWidCurImgMark->setModel(m_roiModel);
    ui->lstWidCurImgMark->setItemDelegate(new ROIListDelegate(ui->lstWidCurImgMark));
    // One-line rows: thousands of ROIs are laid out without measuring each title.
    ui->lstWidCurImgMark->setUniformItemSizes(true);

    m_drawHint = new QLabel(ui->widImgView);
    m_drawHint->setObjectName(QStringLiteral("lbDrawHint"));
    m_drawHint->setStyleSheet(QStringLiteral(
        "background: rgba(230, 244, 242, 220); color: #145369; padding: 4px; font-size: 14px;"));
    m_drawHint->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_drawHint->hide();
}

void ImgMarksWid::SetupImportNote()
{
    // Below both tabs, so an import from either tab is answered where the user looks.
    auto* column = new QWidget(this);
    auto* layout = new QVBoxLayout(column);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    delete ui->layRoot->replaceWidget(ui->tabWidget, column);
    layout->addWidget(ui->tabWidget, 1);
    m_importNote = new QLabel(column);
    m_importNote->setObjectName(QStringLiteral("lbImportNote"));
    m_importNote->setWordWrap(true);
    // In the page's own colours, so it reads as the answer to the import and not as a status line.
    m_importNote->setStyleSheet(QStringLiteral("background: #E6F4F2; color: #145369; padding: 4px;"));
    m_importNote->hide();
    layout->addWidget(m_importNote);
}

void ImgMarksWid::SetupLoader()
{
    auto* pWork = m_thread.Adopt(new LoadImgWork());
    connect(this, &ImgMarksWid::Signal_KnownImages, pWork, &LoadImgWork::Slot_SetKnownImages);
    connect(this, &ImgMarksWid::Signal_LoadImgPath, pWork, &LoadImgWork::Slot_LoadImgPath);
    connect(this, &ImgMarksWid::Signal_LoadImg, pWork, &LoadImgWork::Slot_LoadImg);
    connect(this, &ImgMarksWid::Signal_ImportMarkImg, pWork, &LoadImgWork::Slot_ImportMarkImg);
    connect(this, &ImgMarksWid::Signal_DelImg, pWork, &LoadImgWork::Slot_DelImg);
    connect(pWork, &LoadImgWork::Signal_ImgList, this, &ImgMarksWid::Slot_ImgList);
    connect(pWork, &LoadImgWork::Signal_ScanFinished, this, &ImgMarksWid::Slot_ScanFinished);
    connect(pWork, &LoadImgWork::Signal_DeleteCompleted, this, &ImgMarksWid::Signal_CloseWaitDailog);
    m_thread.Start();
}

void ImgMarksWid::SetupShapeButtons()
{
    const auto spPrj = PrjIns().lock();
    const auto spPInfo = spPrj ? spPrj->PrjInfo() : nullptr;
    if (spPInfo && spPInfo->type == pro::kSegmentProject)
    {
        ui->btnRect->hide();
        ui->btnPolygon->show();
        ui->btnPolygon->setChecked(true);
    }
    else if (spPInfo && spPInfo->type == pro::kObjectProject)
    {
        ui->btnPolygon->hide();
        ui->btnRect->show();
        ui->btnRect->setChecked(true);
    }
}

void ImgMarksWid::SetupShortcuts()
{
    ui->btnNextImg->setShortcut(QKeySequence(Qt::Key_D));
    ui->btnNextImg->setToolTip(tr("下一张图片，快捷键：D"));
    ui->btnPreImg->setShortcut(QKeySequence(Qt::Key_A));
    ui->btnPreImg->setToolTip(tr("上一张图片，快捷键：A"));
    ui->btnMarkToOK->setShortcut(QKeySequence(Qt::Key_Space));
    ui->btnMarkToOK->setToolTip(tr("标OK，快捷键：空格"));
    ui->btnReloadMark->setShortcut(QKeySequence(Qt::Key_F5));
    ui->btnReloadMark->setToolTip(tr("刷新已标注，快捷键：F5"));
    ui->btnStartDraw->setShortcut(QKeySequence(Qt::Key_W));
    // Only one of the two F5 keys is active at a time, so F5 is never ambiguous.
    m_reloadKey->setEnabled(ui->tabWidget->currentWidget() != ui->tabMarks);
    ui->btnDelUnMarkImg->setToolTip(tr("永久删除图片"));
    ui->btnClearUnMarkTbl->setToolTip(tr("仅清空列表"));
    ui->btnZoomFit->setToolTip(tr("缩放"));
    ui->btnRedo->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Y));
    ui->btnCarryRois->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_V));
    ui->btnCarryRois->setToolTip(tr("沿用上一张图片的标注，快捷键：Ctrl+Shift+V"));
}

void ImgMarksWid::SetupSession()
{
    ui->btnUndo->setEnabled(false);
    ui->btnRedo->setEnabled(false);
    UpdateUndoTips();
    // Connected to the session, not to its stack: what the stack says while it goes away with the
    // session reaches nobody.
    connect(m_session, &AnnotationSession::canUndoChanged, ui->btnUndo, &QWidget::setEnabled);
    connect(m_session, &AnnotationSession::canRedoChanged, ui->btnRedo, &QWidget::setEnabled);
    connect(m_session, &AnnotationSession::undoIndexChanged, this, &ImgMarksWid::UpdateUndoTips);
    connect(m_session, &AnnotationSession::shownChanged, this, &ImgMarksWid::ShownChanged);
    connect(m_session, &AnnotationSession::roisChanged, this, &ImgMarksWid::RoisChanged);
    connect(m_session, &AnnotationSession::storeStarted, this, &ImgMarksWid::StoreStarted);
}

void ImgMarksWid::ConnectWidgets()
{
    connect(m_statusGroup, qOverload<QAbstractButton*>(&QButtonGroup::buttonClicked), this,
            &ImgMarksWid::Slot_BtnRdoClicked);
    connect(ui->btnAddImg, &QToolButton::clicked, this, &ImgMarksWid::Slot_BtnAddImgClicked);
    connect(ui->btnAddImgFold, &QToolButton::clicked, this, &ImgMarksWid::Slot_BtnAddImgFoldClicked);
    connect(ui->btnSaveMark, &QPushButton::clicked, this, &ImgMarksWid::Slot_BtnSaveMarkClicked);
    connect(ui->btnDelUnMarkImg, &QPushButton::clicked, this, &ImgMarksWid::Slot_BtnDelUnMarkImgClicked);
    connect(ui->btnMarkToOK, &QPushButton::clicked, this, &ImgMarksWid::Slot_BtnMarkToOKClicked);
    connect(ui->tblViewUnmarks->selectionModel(), &QItemSelectionModel::currentChanged, this,
            &ImgMarksWid::Slot_tblViewUnmarksSelectChanged);
    connect(ui->treeViewMarks, &QTreeView::clicked, this, &ImgMarksWid::Slot_treeViewMarksItemClicked);
    connect(ui->btnStartDraw, &QPushButton::clicked, this, &ImgMarksWid::Slot_BtnStartDrawClicked);
    connect(ui->btnAddMarkType, &QPushButton::clicked, this, &ImgMarksWid::Slot_BtnAddMarkTypeClicked);
    connect(ui->btnSaveMarkType, &QPushButton::clicked, this, &ImgMarksWid::Slot_BtnSaveMarkTypeClicked);
    // Return in the name field confirms, as the button does.
    connect(ui->edtMarkType, &QLineEdit::returnPressed, this, &ImgMarksWid::Slot_BtnSaveMarkTypeClicked);
    connect(ui->btnReloadMark, &QToolButton::clicked, this, &ImgMarksWid::Slot_BtnReloadMark);
    connect(m_reloadKey, &QShortcut::activated, this, &ImgMarksWid::Slot_BtnReloadMark);
    connect(ui->btnPreImg, &QPushButton::clicked, this, &ImgMarksWid::Slot_BtnPreImg);
    connect(ui->btnNextImg, &QPushButton::clicked, this, &ImgMarksWid::Slot_BtnNextImg);
    connect(ui->btnDelImgMark, &QPushButton::clicked, this, &ImgMarksWid::Slot_btnDelImgMarkClicked);
    connect(ui->btnDelImgAllMark, &QPushButton::clicked, this, &ImgMarksWid::Slot_BtnDelImgAllMark);
    connect(ui->btnDelImgOneMark, &QPushButton::clicked, this, &ImgMarksWid::Slot_BtnDelImgOneMark);
    connect(ui->tabWidget, &QTabWidget::currentChanged, this, &ImgMarksWid::Slot_TabWidCurrentIndexChanged);
    connect(ui->btnImportMark, &QPushButton::clicked, this, &ImgMarksWid::Slot_BtnImportMarkClicked);
    connect(ui->btnDelMarkImg, &QPushButton::clicked, this, &ImgMarksWid::Slot_BtnDelMarkImgClicked);
    connect(ui->btnClearUnMarkTbl, &QPushButton::clicked, this, &ImgMarksWid::Slot_BtnClearUnMarkTblClicked);
    connect(ui->btnZoomFit, &QPushButton::clicked, this, &ImgMarksWid::Slot_BtnZoomFitClicked);
    connect(ui->lstWidCurImgMark->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &ImgMarksWid::Slot_MarkImgRoiSelectionChanged);
    connect(this, &ImgMarksWid::Signal_SaveMarkResult, this, &ImgMarksWid::Slot_SaveMarkResult);
    connect(ui->btnWhere, &QPushButton::clicked, this, &ImgMarksWid::Slot_BtnWhereClicked);
    connect(ui->btnUndo, &QToolButton::clicked, this, &ImgMarksWid::Slot_BtnUndoClicked);
    connect(ui->btnRedo, &QToolButton::clicked, this, &ImgMarksWid::Slot_BtnRedoClicked);
    connect(m_undoKey, &QShortcut::activated, this, &ImgMarksWid::Slot_BtnUndoClicked);
    connect(m_redoKey, &QShortcut::activated, this, &ImgMarksWid::Slot_BtnRedoClicked);
    connect(ui->btnCarryRois, &QToolButton::clicked, this, &ImgMarksWid::Slot_BtnCarryRoisClicked);
    connect(ui->btnExportMark, &QPushButton::clicked, this, &ImgMarksWid::Slot_BtnExportMarkClicked);
    connect(m_deleteKey, &QShortcut::activated, this, &ImgMarksWid::Slot_DeleteSelectedRoi);
    connect(m_backspaceKey, &QShortcut::activated, this, &ImgMarksWid::Slot_DeleteSelectedRoi);
    connect(ui->lstWidMarkType, &SingleSelectListView::Signal_ItemDeleted, this,
            &ImgMarksWid::UpdateCategoryColours);
}

void ImgMarksWid::ConnectCanvas()
{
    connect(ui->widImgView, &DataWidget::drawRoiCompleted, this, &ImgMarksWid::Slot_ImgViewDrawRoiCompleted);
    connect(ui->widImgView, &DataWidget::clickedROI, this, &ImgMarksWid::Slot_ImgViewClickedROI);
    connect(ui->widImgView, &DataWidget::roiDragFinished, this, &ImgMarksWid::Slot_ImgViewRoiDragFinished);
}

void ImgMarksWid::InitialLoad()
{
    m_marksModel->reload();
    ui->treeViewMarks->expandAll();
    if (const auto spPrj = PrjIns().lock())
    {
        FillCategories();
        spPrj->SetSaveCallback(&PageSaveCallback, this);
        AppendProjectImages();
    }
    m_intake.indexProject();
    // The program's folder, then those the user imported into this project: the images waiting
    // for annotation are listed again, each once.
    QStringList folders = ImageIntake::importedFolders();
    const QString folder = QString::fromStdString(
        comlib::IniFile::ReadString("Config", "LoadImgPath", std::string(), m_configFile.toStdString()));
    if (!folder.isEmpty())
        folders.prepend(folder);
    QSet<QString> seen;
    for (const QString& each : qAsConst(folders))
    {
        if (!seen.contains(ImageOrder::PathKey(each)))
            RequestScan(each, false);
        seen.insert(ImageOrder::PathKey(each));
    }
}

void ImgMarksWid::RequestScan(const QString& path, bool report, bool singleFile)
{
    emit Signal_KnownImages(ImageIntake::knownImages());
    m_intake.scanRequested(report);
    if (singleFile)
        emit Signal_LoadImg(path);
    else
        emit Signal_ImportMarkImg(path, true);
}

void ImgMarksWid::FillCategories()
{
    const auto spPrj = PrjIns().lock();
    UpdateCategoryColours();
    if (!spPrj || spPrj->MarkTypes().isEmpty())
        return;
    ui->lstWidMarkType->clear();
    for (const QString& type : spPrj->MarkTypes())
        ui->lstWidMarkType->AddItem(type);
    ui->lstWidMarkType->SetCurrentRow(0);
}

void ImgMarksWid::UpdateCategoryColours()
{
    const auto spPrj = PrjIns().lock();
    const QStringList categories = spPrj ? spPrj->MarkTypes() : QStringList();
    ui->widImgView->setCategories(categories);
    m_roiModel->setCategories(categories);
}

void ImgMarksWid::ShowDrawHint(const QString& text)
{
    m_drawHint->setText(text);
    m_drawHint->adjustSize();
    m_drawHint->move(8, 8);
    m_drawHint->setVisible(!text.isEmpty());
}

void ImgMarksWid::SetupDisplayAdjust()
{
    auto* action = new QWidgetAction(m_adjustMenu);
    action->setDefaultWidget(m_adjustWid);
    m_adjustMenu->addAction(action);
    ui->btnDisplayAdjust->setMenu(m_adjustMenu);
    ui->btnDisplayAdjust->setToolTip(tr("亮度、对比度、伽马，仅用于显示，不写入文件"));
    connect(m_adjustMenu, &QMenu::aboutToShow, this,
            [this]
            {
                const CanvasImage& image = ui->widImgView->canvasImage();
                m_adjustWid->SetImageInfo(image.isNull() ? 0 : image.bitsPerSample(), image.windowLow(),
                                          image.windowHigh());
            });
    connect(m_adjustWid, &DisplayAdjustWid::Signal_AdjustChanged, this, &ImgMarksWid::ApplyDisplayAdjust);
    connect(ui->widImgView, &DataWidget::SignalSendPixelValues, this, &ImgMarksWid::ShowPixelValues);
}

void ImgMarksWid::ApplyDisplayAdjust(const CanvasImage::Adjust& adjust)
{
    ui->widImgView->setDisplayAdjust(adjust);
    // The button stays marked while the screen differs from the file.
    ui->btnDisplayAdjust->setStyleSheet(
        adjust.isNeutral() ? QString() : QStringLiteral("background: #7FD4CD; color: #145369;"));
}

void ImgMarksWid::ShowPixelValues(const QPointF& location, const QVector<double>& values)
{
    if (values.isEmpty())
    {
        ui->lbPixelValue->clear();
        return;
    }
    QStringList texts;
    for (const double value : values)
        texts << QString::number(value, 'g', 7);
    ui->lbPixelValue->setText(tr("x: %1  y: %2  值: %3")
                                  .arg(int(std::floor(location.x())))
                                  .arg(int(std::floor(location.y())))
                                  .arg(texts.join(QStringLiteral(", "))));
}

void ImgMarksWid::AppendProjectImages()
{
    const auto spPrj = PrjIns().lock();
    if (!spPrj)
        return;
    for (const auto& spImg : spPrj->Images())
    {
        if (spImg && !spImg->marked)
            m_srcModel->appendImage(spImg);
    }
}

std::shared_ptr<pro::ImageInfo> ImgMarksWid::ShownRecord() const
{
    return m_session->shown();
}

void ImgMarksWid::ShowImage(const std::shared_ptr<pro::ImageInfo>& spImg)
{
    m_session->show(spImg);
}

void ImgMarksWid::ShownChanged()
{
    const auto spImg = ShownRecord();
    ui->widImgView->dataUpdated(spImg);
    if (!spImg)
    {
        m_roiModel->clearItems();
        ui->edtCurFile->clear();
        return;
    }
    ui->widImgView->zoomFit();
    RefreshRoiList(*spImg);
    ui->edtCurFile->setText(spImg->path);
}

void ImgMarksWid::RefreshRoiList(const pro::ImageInfo& img)
{
    m_roiModel->clearItems();
    for (const auto& roi : img.rois)
        m_roiModel->addItem(roi);
}

void ImgMarksWid::Slot_BtnSaveMarkClicked()
{
    m_session->storeShown();
}

void ImgMarksWid::StoreStarted(const QString& id)
{
    // A scan asked for before this store knows the image from here on.
    if (const auto spPrj = PrjIns().lock())
        m_intake.remember(spPrj->ImageById(id));
    m_pendingSaveId = id;
    ui->btnSaveMark->setText(tr("保存中..."));
    ui->btnSaveMark->setEnabled(false);
}

void ImgMarksWid::Slot_SaveMarkResult(QString id, bool bSucc, QString msg)
{
    if (!bSucc)
    {
        qCritical().noquote() << "Storing image" << id << "failed:" << msg;
        CMsgWnd::Information(this, tr("错误"), msg, NOTIFY_ERROR);
    }
    if (!m_pendingSaveId.isEmpty() && m_pendingSaveId == id)
    {
        ui->btnSaveMark->setText(tr("保存"));
        ui->btnSaveMark->setEnabled(true);
        m_pendingSaveId.clear();
    }
}

void ImgMarksWid::Slot_tblViewUnmarksSelectChanged(const QModelIndex& current, const QModelIndex&)
{
    if (!current.isValid())
        return;
    ShowImage(m_srcModel->imageAt(m_proxy->mapToSource(current)).lock());
}

void ImgMarksWid::Slot_treeViewMarksItemClicked(const QModelIndex& index)
{
    ShowImage(m_marksModel->imageAt(index).lock());
}

void ImgMarksWid::Slot_BtnStartDrawClicked()
{
    QAbstractButton* shape = m_shapeGroup->checkedButton();
    if (shape != ui->btnRect && shape != ui->btnPolygon)
        return;
    if (ui->lstWidMarkType->CurrentText().isEmpty())
    {
        CMsgWnd::Information(this, tr("提示"), tr("无标签，请先添加标签。"), NOTIFY_COMPLETE);
        return;
    }
    if (shape == ui->btnRect)
    {
        ui->widImgView->startDrawRect(QString());
        ShowDrawHint(tr("按住左键拖出矩形，松开结束"));
    }
    else
    {
        ui->widImgView->startDrawPolygon(QString());
        ShowDrawHint(tr("左键加点，点击起点或右键结束，Ctrl+Z 撤回一点"));
    }
}

void ImgMarksWid::Slot_ImgViewDrawRoiCompleted(bool bAccept)
{
    const std::shared_ptr<ROIItem> roi = ui->widImgView->endDrawing(bAccept);
    ShowDrawHint(QString());
    // A degenerate shape (fewer than three vertices, no area) has nothing to label.
    if (!bAccept || !roi)
        return;
    m_menu->clear();
    const QString current = ui->lstWidMarkType->CurrentText();
    QStringList texts;
    if (!current.isEmpty())
        texts << current;
    if (const auto spPrj = PrjIns().lock())
    {
        for (const QString& type : spPrj->MarkTypes())
        {
            if (type != current)
                texts << type;
        }
    }
    const QStringList categories = ui->widImgView->categories();
    for (const QString& text : qAsConst(texts))
    {
        QPixmap swatch(12, 12);
        swatch.fill(CategoryPalette::Of(categories, text));
        QAction* action = m_menu->addAction(QIcon(swatch), text);
        connect(action, &QAction::triggered, m_session, [this, text, roi] { m_session->addRoi(roi, text); });
    }
    // The shape stays in sight while its category is chosen.
    ui->widImgView->setPendingRoi(roi);
    m_menu->exec(QCursor::pos());
    // A dismissed menu leaves the shape out of the image; it must not stay drawn either.
    ui->widImgView->setPendingRoi(nullptr);
}

void ImgMarksWid::RoisChanged(const std::shared_ptr<pro::ImageInfo>& spImg, bool stored)
{
    ui->widImgView->update();
    if (!spImg || spImg != ShownRecord())
        return;
    RefreshRoiList(*spImg);
    // The ROI selected on the canvas stays the list's current one, for the delete buttons.
    if (const auto selected = ui->widImgView->selectedRoi().lock();
        selected && spImg->rois.contains(selected))
        ui->lstWidCurImgMark->setCurrentIndex(m_roiModel->indexOfItem(selected));
    if (stored)
        m_srcModel->refreshRecord(spImg);
}

void ImgMarksWid::Slot_ImgViewRoiDragFinished(std::weak_ptr<ROIItem> roi, std::shared_ptr<ROIItem> before)
{
    m_session->roiReshaped(roi.lock(), before);
}

void ImgMarksWid::Slot_BtnUndoClicked()
{
    // While a polygon is drawn, its last vertex is what the user just placed.
    if (ui->widImgView->mode() == DataWidget::kDrawingPolygon)
        ui->widImgView->removeLastDrawnVertex();
    else if (!ShapeBeingDrawn())
        m_session->undoStack()->undo();
}

void ImgMarksWid::Slot_BtnRedoClicked()
{
    if (!ShapeBeingDrawn())
        m_session->undoStack()->redo();
}

bool ImgMarksWid::ShapeBeingDrawn() const
{
    // A key pressed in the middle of a polygon would take away a ROI the user is not looking at.
    const int mode = ui->widImgView->mode();
    return mode == DataWidget::kDrawingPolygon || mode == DataWidget::kDrawingRect;
}

void ImgMarksWid::UpdateUndoTips()
{
    const QString undo = m_session->undoStack()->undoText();
    const QString redo = m_session->undoStack()->redoText();
    ui->btnUndo->setToolTip(undo.isEmpty() ? tr("撤销，快捷键：Ctrl+Z")
                                           : tr("撤销%1，快捷键：Ctrl+Z").arg(undo));
    ui->btnRedo->setToolTip(redo.isEmpty() ? tr("重做，快捷键：Ctrl+Y 或 Ctrl+Shift+Z")
                                           : tr("重做%1，快捷键：Ctrl+Y 或 Ctrl+Shift+Z").arg(redo));
}

void ImgMarksWid::Slot_BtnCarryRoisClicked()
{
    m_session->carryOver(ui->widImgView->image().size());
}

void ImgMarksWid::Slot_ImgViewClickedROI(std::weak_ptr<ROIItem> roi)
{
    ui->lstWidCurImgMark->setCurrentIndex(m_roiModel->indexOfItem(roi));
}

void ImgMarksWid::Slot_MarkImgRoiSelectionChanged(const QItemSelection& selected, const QItemSelection&)
{
    for (const QModelIndex& index : selected.indexes())
        ui->widImgView->roiSelectedChanged(m_roiModel->itemAt(index.row()));
}

void ImgMarksWid::Slot_BtnMarkToOKClicked()
{
    m_session->markOk();
}

void ImgMarksWid::Slot_btnDelImgMarkClicked()
{
    ui->widImgMarks->setVisible(ui->widImgMarks->isHidden());
}

void ImgMarksWid::Slot_BtnDelImgOneMark()
{
    const QModelIndex current = ui->lstWidCurImgMark->currentIndex();
    const auto spImg = ShownRecord();
    if (!current.isValid() || !spImg)
        return;
    if (!m_session->removeRoi(m_roiModel->itemAt(current.row()).lock()))
        RefreshRoiList(*spImg);
    ui->widImgView->update();
    ui->widImgMarks->hide();
}

void ImgMarksWid::Slot_DeleteSelectedRoi()
{
    // In the middle of a drawing the key would take away a shape the user is not looking at.
    if (ShapeBeingDrawn())
        return;
    m_session->removeRoi(ui->widImgView->selectedRoi().lock());
}

void ImgMarksWid::Slot_BtnDelImgAllMark()
{
    const auto spImg = ShownRecord();
    if (!spImg)
        return;
    m_session->removeAllRois();
    RefreshRoiList(*spImg);
    ui->widImgView->update();
    ui->widImgMarks->hide();
}

void ImgMarksWid::Slot_BtnNextImg()
{
    Navigate(true);
}

void ImgMarksWid::Slot_BtnPreImg()
{
    Navigate(false);
}

void ImgMarksWid::Navigate(bool next)
{
    if (ui->tabWidget->currentIndex() != 0)
    {
        const QModelIndex current = ui->tblViewUnmarks->currentIndex();
        if (!current.isValid())
            return;
        const QModelIndex target = current.sibling(current.row() + (next ? 1 : -1), current.column());
        if (!target.isValid())
            return;
        ui->tblViewUnmarks->setCurrentIndex(target);
        ShowImage(m_srcModel->imageAt(m_proxy->mapToSource(target)).lock());
        ui->tblViewUnmarks->scrollTo(target);
        return;
    }
    const QModelIndex target = m_marksModel->neighbour(ui->treeViewMarks->currentIndex(), next);
    if (!target.isValid())
        return;
    ui->treeViewMarks->setCurrentIndex(target);
    Slot_treeViewMarksItemClicked(target);
    ui->treeViewMarks->scrollTo(target);
}

QString ImgMarksWid::StartFolder() const
{
    const auto spPrj = PrjIns().lock();
    const QString last = spPrj ? spPrj->GetLastFilePath() : QString();
    if (!last.isEmpty())
    {
        const QFileInfo info(last);
        if (info.isDir())
            return info.absoluteFilePath();
        if (info.exists())
            return info.absolutePath();
    }
    const QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    if (!pictures.isEmpty() && QFileInfo(pictures).isDir())
        return pictures;
    return QDir::homePath();
}

void ImgMarksWid::RememberFolder(const QString& folder)
{
    if (const auto spPrj = PrjIns().lock())
        spPrj->SetLastFilePath(folder);
}

QString ImgMarksWid::ChooseFolder()
{
    const QString folder =
        QFileDialog::getExistingDirectory(this, tr("选择图片目录"), StartFolder(),
                                          QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks);
    if (!folder.isEmpty())
        RememberFolder(folder);
    return folder;
}

void ImgMarksWid::Slot_BtnAddImgClicked()
{
    if (PrjIns().expired())
        return;
    const QString path =
        QFileDialog::getOpenFileName(this, tr("选择图片文件"), StartFolder(), ImageFiles::DialogFilter());
    if (path.isEmpty())
        return;
    RememberFolder(QFileInfo(path).absolutePath());
    RequestScan(path, true, true);
}

void ImgMarksWid::ImportFolder(const QString& folder)
{
    if (folder.isEmpty())
        return;
    ImageIntake::rememberFolder(folder);
    RequestScan(folder, true);
}

void ImgMarksWid::Slot_BtnAddImgFoldClicked()
{
    ImportFolder(ChooseFolder());
}

void ImgMarksWid::Slot_BtnImportMarkClicked()
{
    ImportFolder(ChooseFolder());
}

void ImgMarksWid::Slot_ImgList(QList<std::shared_ptr<pro::ImageInfo>> vtImgPtr)
{
    const int known = ProjectImport::UseProjectRecords(vtImgPtr) + m_intake.useProjectRecords(vtImgPtr);
    // Files the lists hold already are no news, unless they arrive annotated.
    int listed = 0;
    QList<std::shared_ptr<pro::ImageInfo>> fresh;
    for (const auto& spImg : qAsConst(vtImgPtr))
    {
        if (!spImg || !spImg->id.isEmpty())
            continue;
        if (m_srcModel->isListed(*spImg))
            ++listed;
        else
            fresh.append(spImg);
    }
    // Imported records join the project here, in the GUI thread, before any list shows them.
    const int annotated = ProjectImport::AddToProject(vtImgPtr);
    QList<std::shared_ptr<pro::ImageInfo>> marked;
    QList<std::shared_ptr<pro::ImageInfo>> unmarked;
    for (const auto& spImg : qAsConst(vtImgPtr))
    {
        if (!spImg)
            continue;
        m_intake.remember(spImg);
        (spImg->marked ? marked : unmarked).append(spImg);
    }
    m_marksModel->addImages(marked);
    // Groups an import adds would otherwise arrive folded.
    ui->treeViewMarks->expandAll();
    // An image annotated by this import leaves the not-annotated list.
    m_srcModel->removeOtherRecords(marked);
    QList<std::shared_ptr<pro::ImageInfo>> listable;
    for (const auto& spImg : qAsConst(unmarked))
    {
        if (!m_srcModel->isListed(*spImg))
            listable.append(spImg);
    }
    m_srcModel->appendImages(listable);
    FillCategories();

    if (ImageIntake::Tally* tally = m_intake.runningScan())
    {
        tally->known += known + listed;
        tally->annotated += annotated;
        tally->fresh += fresh.size();
        for (const auto& spImg : qAsConst(fresh))
            ++tally->freshByStatus[ImgStatus::CodeOfFolder(spImg->filter)];
        for (const auto& spImg : qAsConst(listable))
            ++tally->listedByStatus[ImgStatus::CodeOfFolder(spImg->filter)];
    }
}

void ImgMarksWid::Slot_ScanFinished()
{
    const ImageIntake::Tally tally = m_intake.scanFinished();
    if (tally.report)
    {
        m_importNote->setText(ImageIntake::summary(tally));
        m_importNote->show();
    }
    ShowStatusOf(ImageIntake::busiestStatus(tally));
}

void ImgMarksWid::ShowStatusOf(int code)
{
    if (code < 0 || m_proxy->rowCount() > 0)
        return;
    QAbstractButton* button = ui->rdoUnConfirm;
    if (code == ImgStatus::kOk)
        button = ui->rdoOK;
    else if (code == ImgStatus::kNg)
        button = ui->rdoNG;
    else if (code == ImgStatus::kAddedManually)
        button = ui->rdoAddManual;
    button->setChecked(true);
    Slot_BtnRdoClicked(button);
}

void ImgMarksWid::Slot_BtnRdoClicked(QAbstractButton* button)
{
    int code = ImgStatus::kUnconfirmed;
    if (button == ui->rdoOK)
        code = ImgStatus::kOk;
    else if (button == ui->rdoNG)
        code = ImgStatus::kNg;
    else if (button == ui->rdoAddManual)
        code = ImgStatus::kAddedManually;
    const QString status = ImgStatus::Text(code);
    m_proxy->setFilterStatus(status);
    m_srcModel->setCurrentStatus(status);
    ui->tblViewUnmarks->viewport()->update();
}

void ImgMarksWid::Slot_BtnDelUnMarkImgClicked()
{
    if (CMsgWnd::Question(this, tr("提示"), tr("删除当前选中图片\n原图删除后将无法恢复，确定删除吗？"),
                          NOTIFY_QUERY) != 1)
        return;
    const QString status = m_proxy->filterStatus();
    const QStringList paths = m_srcModel->takeCheckedImages(status);
    if (paths.isEmpty())
        return;
    CMsgWnd::ShowWait(this, tr("提示"), tr("批量删图中，请等待..."), NOTIFY_WAIT, QString(), QString(),
                      [this](CMsgWnd* wnd)
                      { connect(this, &ImgMarksWid::Signal_CloseWaitDailog, wnd, &QWidget::close); });
    if (const auto logger = spdlog::get("Operater"))
        logger->log(spdlog::source_loc{"ImgMarks/ImgMarksWid.cpp", __LINE__,
                                       "ImgMarksWid::Slot_BtnDelUnMarkImgClicked"},
                    spdlog::level::info, "删除{0}勾选图片", status.toStdString());
    emit Signal_DelImg(paths);
    m_session->imagesDeleted(paths);
}

void ImgMarksWid::Slot_BtnClearUnMarkTblClicked()
{
    m_srcModel->clearImages();
    // Cleared on purpose: the next opening does not bring these images back.
    ImageIntake::forgetFolders();
}

void ImgMarksWid::Slot_BtnDelMarkImgClicked()
{
    const QModelIndex current = ui->treeViewMarks->currentIndex();
    if (!m_marksModel->imageIndexes().contains(current))
        return;
    const auto spImg = m_marksModel->imageAt(current).lock();
    const auto spPrj = PrjIns().lock();
    if (!spImg || !spPrj)
        return;
    spPrj->DelImage(spImg->id);
    m_marksModel->removeImage(current);
    m_session->imageDeleted(spImg);
}

void ImgMarksWid::Slot_BtnReloadMark()
{
    m_marksModel->reload();
    ui->treeViewMarks->expandAll();
    AppendProjectImages();
}

void ImgMarksWid::Slot_TabWidCurrentIndexChanged(int index)
{
    m_reloadKey->setEnabled(ui->tabWidget->widget(index) != ui->tabMarks);
    if (ui->tabWidget->widget(index) == ui->tabMarks)
        Slot_BtnReloadMark();
}

void ImgMarksWid::Slot_BtnAddMarkTypeClicked()
{
    ui->edtMarkType->clear();
    ui->widInputMarkType->show();
    ui->edtMarkType->setFocus(Qt::OtherFocusReason);
}

void ImgMarksWid::Slot_BtnSaveMarkTypeClicked()
{
    const QString name = ui->edtMarkType->text().trimmed();
    const auto spPrj = PrjIns().lock();
    ui->widInputMarkType->hide();
    if (name.isEmpty() || !spPrj)
        return;
    if (spPrj->AddMarkType(name))
    {
        ui->lstWidMarkType->AddItem(name);
        UpdateCategoryColours();
        // The first category becomes the current one, so drawing can start at once.
        if (ui->lstWidMarkType->CurrentText().isEmpty())
            ui->lstWidMarkType->SetCurrentRow(0);
    }
    else
    {
        CMsgWnd::Information(this, tr("提示"), tr("类别(%1)已存在").arg(name), NOTIFY_COMPLETE);
    }
}

void ImgMarksWid::Slot_BtnWhereClicked()
{
    const QFileInfo info(ui->edtCurFile->text());
    if (ui->edtCurFile->text().isEmpty() || !info.exists())
        return;
    comlib::platform::RevealInFileManager(info.absoluteFilePath());
}

void ImgMarksWid::Slot_BtnZoomFitClicked()
{
    ui->widImgView->zoomFit();
}

void ImgMarksWid::Slot_BtnExportMarkClicked()
{
    const auto spPrj = PrjIns().lock();
    if (!spPrj)
        return;
    // A copy of plain values: the worker writes it while the project goes on being edited here.
    ExportSet set;
    set.projectDir = spPrj->PrjPath();
    if (const auto spPInfo = spPrj->PrjInfo())
    {
        set.name = spPInfo->name;
        set.type = spPInfo->type;
    }
    set.categories = spPrj->MarkTypes();
    for (const std::shared_ptr<pro::ImageInfo>& spImg : spPrj->Images())
    {
        const ExportImage image = ExportImageOf(*spImg);
        if (image.markAsOK || !image.rois.isEmpty())
            set.images.append(image);
    }
    if (set.images.isEmpty())
    {
        CMsgWnd::Information(this, tr("提示"), tr("工程中还没有已标注的图片，无法导出。"), NOTIFY_COMPLETE);
        return;
    }
    ExportSetWid dialog(std::move(set), this);
    dialog.exec();
}
