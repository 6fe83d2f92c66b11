#pragma once

#include "CanvasImage.h"
#include "CanvasZoom.h"
#include "RoiLayer.h"

#include "Nexil/ImageInfo.h"

#include <QImage>
#include <QPoint>
#include <QPointF>
#include <QStringList>
#include <QTimer>
#include <QVector>
#include <QWidget>

#include <memory>

class ROIItem;
class RectROIItem;
class PolygonROIItem;

// Shows one image with its ROIs: zoom, pan, select, move, reshape, and draw a new rectangle or
// polygon. The ROI list it edits is the record's own, so edits reach the project at its next save.
class DataWidget : public QWidget
{
    Q_OBJECT

public:
    enum Mode
    {
        kIdle = 0,
        kPanning = 1,
        kMovingRoi = 2,
        kDraggingHandle = 3,
        kDrawingPolygon = 4,
        kDrawingRect = 9,
    };

    explicit DataWidget(QWidget* parent = nullptr);
    ~DataWidget() override;

    void startDrawRect(const QString& title);
    void startDrawPolygon(const QString& title);
    // Ends a drawing; the finished ROI when accepted and not degenerate, else empty.
    std::shared_ptr<ROIItem> endDrawing(bool accept);
    // Takes back the last placed vertex of the polygon being drawn; false when there is none.
    bool removeLastDrawnVertex();

    std::weak_ptr<pro::ImageInfo> record() const { return m_record; }
    std::weak_ptr<ROIItem> selectedRoi() const { return m_selected; }
    // The picture on the screen: 8 bits, the display adjustment applied.
    const QImage& image() const { return m_image; }
    const CanvasImage& canvasImage() const { return m_canvasImage; }
    // Brightness, contrast and gamma of the screen only; they stay for the images shown next.
    void setDisplayAdjust(const CanvasImage::Adjust& adjust);
    const CanvasImage::Adjust& displayAdjust() const { return m_canvasImage.adjust(); }
    int mode() const { return m_mode; }
    const CanvasZoom& zoom() const { return m_zoom; }
    // 0: presses never pick a ROI (a read-only view); ROIs are still shown.
    void setRoiHitTesting(int enabled) { m_roiHitTesting = enabled; }
    int roiHitTesting() const { return m_roiHitTesting; }
    // The project's categories in order: each shape takes the colour of its title's place
    // (CategoryPalette) and the titles are laid out apart. Without a call the attribute colours stay.
    void setCategories(const QStringList& categories);
    const QStringList& categories() const { return m_categories; }
    // The shapes keep the colours and titles they carry, for a view that colours them itself (truth
    // and prediction drawn over each other); setCategories switches back.
    void useShapeColours();
    // A finished shape not yet in the record (its category being chosen), drawn over the others.
    void setPendingRoi(std::shared_ptr<ROIItem> roi);
    void setHighlight(bool on);
    bool highlight() const { return m_highlight; }
    // Runs the display timer, whose timeout calls stopDisplay.
    void startDisplay(int msec);
    bool displaying() const { return m_displayTimer.isActive(); }

signals:
    void mouseClicked();
    void clickedROI(std::weak_ptr<ROIItem> roi);
    void roiChanging(std::weak_ptr<ROIItem> roi);
    // Receivers end the drawing (endDrawing) during the emission: the canvas leaves the drawing
    // mode right after it.
    void drawRoiCompleted(bool bAccept);
    // A move or handle drag of a ROI ended (the button was released); before is a copy of the ROI as
    // it was when the drag began. Sent once per drag, however many moves it had.
    void roiDragFinished(std::weak_ptr<ROIItem> roi, std::shared_ptr<ROIItem> before);
    void SignalSendLocation(QPointF sendLocations, QRgb sendRgb);
    // Sent with SignalSendLocation: the stored value of each channel under the pointer at the file's
    // full depth (red first; one value for grey), empty outside the image.
    void SignalSendPixelValues(QPointF sendLocations, QVector<double> values);

public slots:
    void zoomIn();
    void zoomOut();
    void zoomFit();
    void dataUpdated(std::weak_ptr<pro::ImageInfo> record);
    void roiSelectedChanged(std::weak_ptr<ROIItem> roi);
    void roiEdited();
    void stopDisplay();

protected:
    void paintEvent(QPaintEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void enterEvent(QEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void loadImage(const QString& path);
    void pressPolygon(Qt::MouseButton button, const QPointF& q);
    void pressRect(Qt::MouseButton button, const QPointF& q);
    void pressIdle(const QPoint& pos, const QPointF& q);
    std::shared_ptr<ROIItem> pickRoi(const QPointF& q) const;
    bool shownRoi(const std::shared_ptr<ROIItem>& roi) const;
    void select(const std::shared_ptr<ROIItem>& roi);
    void clearSelection();
    bool insideImage(const QPointF& q) const;
    void zoomAbout(const QPointF& about, bool in);
    // Ends a drawing nobody ended during drawRoiCompleted, so no mode outlives its shape.
    void dropUnclaimedDrawing();
    // Remembers the ROI and its shape before a drag may change it.
    void beginRoiDrag(const std::shared_ptr<ROIItem>& roi);
    // Reports a drag begun by beginRoiDrag, if any, and forgets it.
    void finishRoiDrag();
    // Gives the shown shapes their category colours before a frame is painted.
    void colourRois(const ROIList& rois) const;
    // True when a press at q would land on the first vertex of the polygon being drawn.
    bool nearFirstVertex(const QPointF& q) const;

    CanvasZoom m_zoom;
    QPointF m_panDelta;
    int m_roiHitTesting = 1;
    QPoint m_pressPos;
    CanvasImage m_canvasImage;
    QImage m_image;
    std::weak_ptr<pro::ImageInfo> m_record;
    QSize m_imageSize;
    std::weak_ptr<ROIItem> m_selected;
    std::unique_ptr<RectROIItem> m_drawRect;
    std::unique_ptr<PolygonROIItem> m_drawPolygon;
    std::weak_ptr<ROIItem> m_dragRoi;
    std::shared_ptr<ROIItem> m_dragBefore;
    int m_mode = kIdle;
    bool m_fitPending = true;
    bool m_highlight = false;
    QTimer m_displayTimer;
    RoiLayer m_roiLayer;
    QStringList m_categories;
    std::shared_ptr<ROIItem> m_pending;
    bool m_categoryColors = false;
};

Q_DECLARE_METATYPE(std::weak_ptr<ROIItem>)
Q_DECLARE_METATYPE(std::weak_ptr<pro::ImageInfo>)
