#pragma once

#include "Nexil/ImageInfo.h"

#include <QWidget>

#include <memory>

class DataWidget;
namespace Ui
{
class MarksResultWidClass;
}

// A read-only view of one image with its ROIs, titled "标注"; its ROIs cannot be picked.
class MarksResultWid : public QWidget
{
    Q_OBJECT

public:
    explicit MarksResultWid(QWidget* parent = nullptr);
    ~MarksResultWid() override;

    void showImage(std::weak_ptr<pro::ImageInfo> record);
    DataWidget* canvas() const;

private:
    std::unique_ptr<Ui::MarksResultWidClass> ui;
};
