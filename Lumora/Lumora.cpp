#include "Lumora.h"
#include "ui_Lumora.h"

#include "ImgMarks/ImgMarksWid.h"
#include "ModelTesting/ModelTestingWid.h"
#include "ModelTraining/ModelTrainingWid.h"

#include "ComUi/FramelessWindow.h"
#include "Nexil/NexilApi.h"

#include <QButtonGroup>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>
#include <QStackedWidget>

Lumora::Lumora(QWidget* parent)
    : QMainWindow(parent), ui(std::make_unique<Ui::LumoraClass>()), m_pageGroup(new QButtonGroup(this))
{
    ui->setupUi(this);
    SetUpFramelessDialog(this, 60, WindowResize::Fixed, WindowBackground::Opaque);

    m_pageGroup->setExclusive(true);
    m_pageGroup->addButton(ui->btnImgMarks);
    m_pageGroup->addButton(ui->btnModelTraining);
    m_pageGroup->addButton(ui->btnModelTesting);

    m_imgMarks = new ImgMarksWid(this);
    m_modelTraining = new ModelTrainingWid(this);
    m_modelTesting = new ModelTestingWid(this);
    m_pages = new QStackedWidget(ui->widContent);
    m_pages->addWidget(m_imgMarks);
    m_pages->addWidget(m_modelTraining);
    m_pages->addWidget(m_modelTesting);
    ui->widContent->layout()->addWidget(m_pages);
    m_pages->setCurrentWidget(m_imgMarks);

    ui->edtModPrj->hide();
    ui->edtModPrj->installEventFilter(this);
    FillProjectStrip();

    connect(ui->btnClose, &QPushButton::clicked, this, &QWidget::close);
    connect(ui->btnMin, &QPushButton::clicked, this, &QWidget::showMinimized);
    connect(m_pageGroup, qOverload<QAbstractButton*>(&QButtonGroup::buttonClicked), this,
            &Lumora::Slot_BtnPageIndexClicked);
    connect(ui->btnModPrj, &QPushButton::clicked, this, &Lumora::Slot_BtnModPrjClicked);
    connect(ui->edtModPrj, &QLineEdit::editingFinished, this, &Lumora::Slot_edtModPrjFinished);
}

Lumora::~Lumora() = default;

void Lumora::ShowServiceState(comlib::ServiceStarter* service)
{
    m_modelTraining->ShowServiceState(service);
}

void Lumora::ShowOnScreen(QScreen* screen)
{
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (screen)
    {
        const QRect available = screen->availableGeometry();
        setMaximumSize(available.size());
        // Not every window manager maximises a frameless dialog window; its normal size fills the screen too.
        setGeometry(available);
    }
    showMaximized();
}

bool Lumora::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == ui->edtModPrj && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape && !ui->edtModPrj->isHidden())
    {
        CancelNotesEdit();
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void Lumora::FillProjectStrip()
{
    const auto spPrj = PrjIns().lock();
    const auto spPInfo = spPrj ? spPrj->PrjInfo() : nullptr;
    if (!spPInfo)
        return;
    ui->edtModPrj->setText(spPInfo->tips);
    ui->lbCurPrj->setText(spPInfo->name + spPInfo->tips);
}

void Lumora::CancelNotesEdit()
{
    const auto spPrj = PrjIns().lock();
    const auto spPInfo = spPrj ? spPrj->PrjInfo() : nullptr;
    // The stored notes go back first, so that the edit ending on focus loss stores nothing new.
    ui->edtModPrj->setText(spPInfo ? spPInfo->tips : QString());
    ShowStrip();
}

void Lumora::ShowStrip()
{
    ui->edtModPrj->hide();
    ui->lbCurPrj->show();
    ui->btnModPrj->setText(tr("修改"));
}

void Lumora::Slot_BtnPageIndexClicked(QAbstractButton* button)
{
    if (button == ui->btnImgMarks)
    {
        m_pages->setCurrentWidget(m_imgMarks);
    }
    else if (button == ui->btnModelTraining)
    {
        m_pages->setCurrentWidget(m_modelTraining);
    }
    else
    {
        m_pages->setCurrentWidget(m_modelTesting);
        m_modelTesting->ReloadModels();
    }
}

void Lumora::Slot_BtnModPrjClicked()
{
    if (!ui->edtModPrj->isHidden())
    {
        Slot_edtModPrjFinished();
        return;
    }
    ui->lbCurPrj->hide();
    ui->edtModPrj->show();
    ui->edtModPrj->setFocus(Qt::OtherFocusReason);
    ui->btnModPrj->setText(tr("完成"));
}

void Lumora::Slot_edtModPrjFinished()
{
    // Hiding the focused line edit finishes the edit a second time; only an edit in progress is stored.
    if (ui->edtModPrj->isHidden())
        return;
    const auto spPrj = PrjIns().lock();
    const auto spPInfo = spPrj ? spPrj->PrjInfo() : nullptr;
    const auto spCore = NexilIns().lock();
    const QString text = ui->edtModPrj->text();

    ui->lbCurPrj->setText((spPInfo ? spPInfo->name : QString()) + text);
    ShowStrip();

    if (!spPInfo || !spCore)
        return;
    // The record is the catalogue's own, so the change is there at once; ModPro stores it.
    spPInfo->tips = text;
    spCore->ModPro(spPInfo->id);
}
