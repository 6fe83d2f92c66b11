#pragma once

#include "Canvas/CanvasImage.h"

#include <QWidget>

#include <memory>

namespace Ui
{
class DisplayAdjustWidClass;
}

// Brightness, contrast and gamma of the canvas, with a reset; for the screen only.
class DisplayAdjustWid : public QWidget
{
    Q_OBJECT

public:
    explicit DisplayAdjustWid(QWidget* parent = nullptr);
    ~DisplayAdjustWid() override;

    CanvasImage::Adjust Adjust() const;
    // Shows the values without sending them.
    void SetAdjust(const CanvasImage::Adjust& adjust);
    // What the shown image is mapped from before the adjustment; bits 0 for no image.
    void SetImageInfo(int bits, double windowLow, double windowHigh);

signals:
    void Signal_AdjustChanged(CanvasImage::Adjust adjust);

public slots:
    void Slot_SliderChanged();
    void Slot_BtnResetClicked();

private:
    void ShowValues();

    std::unique_ptr<Ui::DisplayAdjustWidClass> ui;
};
