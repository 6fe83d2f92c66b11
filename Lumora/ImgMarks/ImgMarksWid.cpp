#include "ImgMarksWid.h"

ImgMarksWid::ImgMarksWid(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("ImgMarksWid"));
}

ImgMarksWid::~ImgMarksWid() = default;
