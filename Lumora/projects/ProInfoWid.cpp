#include "ProInfoWid.h"
#include "ui_ProInfoWid.h"

#include "ComLib/ComFunc.h"
#include "ComLib/ProjectName.h"
#include "ComUi/CMsgWnd.h"
#include "ComUi/FramelessWindow.h"
#include "Nexil/NexilApi.h"

#include <QButtonGroup>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QRadioButton>

namespace
{

constexpr int kTypeColumns = 2;
constexpr char kTypeProperty[] = "type";

} // namespace

ProInfoWid::ProInfoWid(QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::ProInfoWidClass>()), m_typeGroup(new QButtonGroup(this))
{
    ui->setupUi(this);
    SetUpFramelessDialog(this, 60, WindowResize::Fixed, WindowBackground::Translucent);
    AddPanelShadow(ui->widShadow, QColor(QStringLiteral("#808080")), 15);

    m_typeGroup->setExclusive(true);
    if (const auto spCore = NexilIns().lock())
    {
        int cell = 0;
        for (int type : {pro::kSegmentProject, pro::kObjectProject})
        {
            auto* button = new QRadioButton(spCore->TypeName(type), ui->gridLayoutWidget);
            button->setProperty(kTypeProperty, type);
            m_typeGroup->addButton(button);
            ui->gridType->addWidget(button, cell / kTypeColumns, cell % kTypeColumns);
            ++cell;
        }
    }
    SetTabOrder();
    // Enter in the name field saves; the form's compiler drops this property of a promoted button.
    ui->btnSave->setDefault(true);

    connect(ui->btnClose, &QPushButton::clicked, this, &QDialog::close);
    connect(ui->btnMin, &QPushButton::clicked, this, &QWidget::showMinimized);
    connect(ui->btnSave, &QPushButton::clicked, this, &ProInfoWid::Slot_BtnSaveClicked);
    connect(m_typeGroup, qOverload<QAbstractButton*>(&QButtonGroup::buttonClicked), this,
            &ProInfoWid::Slot_RdoBtnTypeClicked);
}

ProInfoWid::~ProInfoWid() = default;

void ProInfoWid::Slot_BtnSaveClicked()
{
    const auto spCore = NexilIns().lock();
    if (!spCore)
        return;
    const QString name = ui->edtName->text().trimmed();
    if (name.isEmpty())
    {
        CMsgWnd::Information(this, tr("提示"), tr("保存失败！") + QLatin1Char('\n') + tr("请输入工程名称。"),
                             NOTIFY_ABOUT);
        return;
    }
    // A project without a type would open with both drawing tools and could not be trained.
    if (CheckedType() == 0)
    {
        CMsgWnd::Information(this, tr("提示"), tr("请选择工程类型"), NOTIFY_ABOUT);
        return;
    }
    // The name becomes the project's folder under the workspace.
    if (name.toUtf8().size() > comlib::kMaxProjectNameBytes)
    {
        CMsgWnd::Information(
            this, tr("提示"),
            tr("工程名过长，请缩短（最多%1字节，一个汉字占3字节）。").arg(comlib::kMaxProjectNameBytes),
            NOTIFY_WARNING);
        return;
    }
    if (!comlib::IsSafeProjectName(name))
    {
        CMsgWnd::Information(this, tr("提示"),
                             tr("工程名不能包含 \\ / : * ? \" < > | 或控制字符，\n"
                                "不能是“.”、“..”或系统保留名（如CON、NUL），\n也不能以点或空格结尾。"),
                             NOTIFY_WARNING);
        return;
    }

    const QString now = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    auto spPInfo = std::make_shared<pro::info>();
    spPInfo->id = QString::fromStdString(comlib::MakeUniqueId());
    spPInfo->name = name;
    spPInfo->type = CheckedType();
    spPInfo->tips = ui->edtTips->toPlainText();
    spPInfo->createTime = now;
    spPInfo->lastUsedTime = now;

    if (!spCore->ProIdByName(name).isEmpty())
    {
        CMsgWnd::Information(this, tr("提示"), tr("工程名已存在，请更换。"), NOTIFY_WARNING);
        return;
    }
    if (!CheckFolderFree(*spCore, name))
        return;
    if (!spCore->AddPro(spPInfo))
    {
        CMsgWnd::Information(this, tr("错误"), tr("工程保存失败。\n原因：%1").arg(spCore->LastError()),
                             NOTIFY_ERROR);
        return;
    }
    accept();
}

void ProInfoWid::SetTabOrder()
{
    QWidget* previous = ui->edtName;
    for (QAbstractButton* button : m_typeGroup->buttons())
    {
        setTabOrder(previous, button);
        previous = button;
    }
    setTabOrder(previous, ui->edtTips);
    setTabOrder(ui->edtTips, ui->btnSave);
}

void ProInfoWid::keyPressEvent(QKeyEvent* event)
{
    if (event->key() != Qt::Key_Escape)
    {
        QDialog::keyPressEvent(event);
        return;
    }
    event->accept();
    const bool typed = !ui->edtName->text().isEmpty() || !ui->edtTips->document()->isEmpty();
    if (typed && CMsgWnd::Question(this, tr("提示"), tr("放弃新建工程吗？\n已输入的名称和备注不会保存。"),
                                   NOTIFY_QUERY) != QDialog::Accepted)
        return;
    reject();
}

void ProInfoWid::Slot_RdoBtnTypeClicked(QAbstractButton* button)
{
    // The type is read from the group when saving.
    Q_UNUSED(button);
}

int ProInfoWid::CheckedType() const
{
    for (QAbstractButton* button : m_typeGroup->buttons())
    {
        if (button->isChecked())
            return button->property(kTypeProperty).toInt();
    }
    return 0;
}

bool ProInfoWid::CheckFolderFree(const INexil& core, const QString& name)
{
    if (core.WorkspacePath().isEmpty())
        return true;
    // A deleted project leaves its folder behind; a new project must not take over its images.
    const QString folder = core.WorkspacePath() + "/" + name;
    if (!QFileInfo::exists(folder))
        return true;
    CMsgWnd::Information(
        this, tr("提示"),
        tr("工程目录已存在：%1\n请更换工程名，或先移走该目录。").arg(QDir::toNativeSeparators(folder)),
        NOTIFY_WARNING);
    return false;
}
