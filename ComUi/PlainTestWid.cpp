#include "PlainTestWid.h"
#include "ui_PlainTestWid.h"

PlainTestWid::PlainTestWid(QWidget* parent) : QWidget(parent), ui(std::make_unique<Ui::PlainTestWidClass>())
{
    ui->setupUi(this);
    connect(ui->btnShow, &QPushButton::clicked, this, &PlainTestWid::Slot_BtnShowClicked);
}

PlainTestWid::~PlainTestWid() = default;

void PlainTestWid::AppendLine(const QString& text)
{
    ui->plainTextEdit->appendPlainText(text);
}

void PlainTestWid::ClearLines()
{
    ui->plainTextEdit->clear();
}

void PlainTestWid::Collapse()
{
    ui->btnShow->setChecked(true);
    ui->plainTextEdit->hide();
}

void PlainTestWid::Slot_BtnShowClicked()
{
    ui->plainTextEdit->setVisible(!ui->btnShow->isChecked());
}
