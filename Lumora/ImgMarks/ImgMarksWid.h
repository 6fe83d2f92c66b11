#pragma once

#include <QWidget>

// The annotation page of the main window.
class ImgMarksWid : public QWidget
{
    Q_OBJECT

public:
    explicit ImgMarksWid(QWidget* parent = nullptr);
    ~ImgMarksWid() override;
};
