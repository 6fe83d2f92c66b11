#include "DisplayAdjustWid.h"
#include "ui_DisplayAdjustWid.h"

#include <QSignalBlocker>

#include <algorithm>
#include <cmath>

namespace
{
// The gamma slider runs logarithmically, so 1.00 sits in its middle and 0.2 and 5 at its ends.
constexpr int kGammaSteps = 100;

int GammaOfSlider(int position)
{
    const double ratio = double(CanvasImage::kMaxGamma) / 100;
    return int(std::lround(100 * std::pow(ratio, double(position) / kGammaSteps)));
}

int SliderOfGamma(int gamma)
{
    const double ratio = double(CanvasImage::kMaxGamma) / 100;
    return int(std::lround(kGammaSteps * std::log(gamma / 100.0) / std::log(ratio)));
}
} // namespace

DisplayAdjustWid::DisplayAdjustWid(QWidget* parent)
    : QWidget(parent), ui(std::make_unique<Ui::DisplayAdjustWidClass>())
{
    qRegisterMetaType<CanvasImage::Adjust>("CanvasImage::Adjust");
    ui->setupUi(this);
    ui->sldBrightness->setRange(CanvasImage::kMinLevel, CanvasImage::kMaxLevel);
    ui->sldContrast->setRange(CanvasImage::kMinLevel, CanvasImage::kMaxLevel);
    ui->sldGamma->setRange(-kGammaSteps, kGammaSteps);
    SetAdjust(CanvasImage::Adjust());
    SetImageInfo(0, 0, 0);

    for (QSlider* slider : {ui->sldBrightness, ui->sldContrast, ui->sldGamma})
        connect(slider, &QSlider::valueChanged, this, &DisplayAdjustWid::Slot_SliderChanged);
    connect(ui->btnReset, &QPushButton::clicked, this, &DisplayAdjustWid::Slot_BtnResetClicked);
}

DisplayAdjustWid::~DisplayAdjustWid() = default;

CanvasImage::Adjust DisplayAdjustWid::Adjust() const
{
    return CanvasImage::Adjust{ui->sldBrightness->value(), ui->sldContrast->value(),
                               GammaOfSlider(ui->sldGamma->value())};
}

void DisplayAdjustWid::SetAdjust(const CanvasImage::Adjust& adjust)
{
    const QSignalBlocker brightness(ui->sldBrightness);
    const QSignalBlocker contrast(ui->sldContrast);
    const QSignalBlocker gamma(ui->sldGamma);
    ui->sldBrightness->setValue(adjust.brightness);
    ui->sldContrast->setValue(adjust.contrast);
    ui->sldGamma->setValue(
        SliderOfGamma(std::clamp(adjust.gamma, CanvasImage::kMinGamma, CanvasImage::kMaxGamma)));
    ShowValues();
}

void DisplayAdjustWid::SetImageInfo(int bits, double windowLow, double windowHigh)
{
    if (bits <= 8)
    {
        ui->lbWindow->setText(bits == 0 ? QString() : tr("8 位图像"));
        return;
    }
    // The window an image of more bits starts from, so a faint range is understood as such.
    ui->lbWindow->setText(
        tr("%1 位图像，显示范围 %2 – %3").arg(bits).arg(windowLow, 0, 'g', 6).arg(windowHigh, 0, 'g', 6));
}

void DisplayAdjustWid::Slot_SliderChanged()
{
    ShowValues();
    emit Signal_AdjustChanged(Adjust());
}

void DisplayAdjustWid::Slot_BtnResetClicked()
{
    if (Adjust().isNeutral())
        return;
    SetAdjust(CanvasImage::Adjust());
    emit Signal_AdjustChanged(Adjust());
}

void DisplayAdjustWid::ShowValues()
{
    const CanvasImage::Adjust adjust = Adjust();
    ui->lbBrightnessValue->setText(QString::number(adjust.brightness));
    ui->lbContrastValue->setText(QString::number(adjust.contrast));
    ui->lbGammaValue->setText(QString::number(adjust.gamma / 100.0, 'f', 2));
    ui->btnReset->setEnabled(!adjust.isNeutral());
}
