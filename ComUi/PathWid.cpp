#include "PathWid.h"
#include "ui_PathWid.h"

#include "ComLib/DesktopPlatform.h"

#include <QFileInfo>

PathWid::PathWid(QWidget* parent)
    : QWidget(parent), ui(std::make_unique<Ui::PathWid>()), m_reveal(comlib::platform::RevealInFileManager)
{
    ui->setupUi(this);
    connect(ui->btnWhere, &QPushButton::clicked, this, &PathWid::Slot_BtnWhereClicked);
}

PathWid::~PathWid() = default;

void PathWid::SetRevealer(Revealer revealer)
{
    m_reveal = std::move(revealer);
}

void PathWid::SetPath(const QString& path)
{
    m_path = path;
    ui->edtCurFile->setText(path);
    ui->edtCurFile->setToolTip(path);
    ui->edtCurFile->setCursorPosition(0);
}

void PathWid::Slot_BtnWhereClicked()
{
    const QString text = ui->edtCurFile->text();
    if (text.isEmpty())
        return;
    const QFileInfo info(text);
    if (!info.exists())
        return;
    m_reveal(info.absoluteFilePath());
}
