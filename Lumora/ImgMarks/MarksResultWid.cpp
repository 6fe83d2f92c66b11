#include "MarksResultWid.h"
#include "ui_MarksResultWid.h"

#include "Canvas/datawidget.h"

MarksResultWid::MarksResultWid(QWidget* parent)
    : QWidget(parent), ui(std::make_unique<Ui::MarksResultWidClass>())
{
    ui->setupUi(this);
    ui->widMarkView->setRoiHitTesting(0);
}

MarksResultWid::~MarksResultWid() = default;

void MarksResultWid::showImage(std::weak_ptr<pro::ImageInfo> record)
{
    ui->widMarkView->dataUpdated(record);
    ui->widMarkView->zoomFit();
}

DataWidget* MarksResultWid::canvas() const
{
    return ui->widMarkView;
}
