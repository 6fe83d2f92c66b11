#pragma once

#include "Nexil/ROI/ROIItem.h"
#include "Nexil/ROI/RectROI.h"

// Handles: 0 top-left, 1 top-right, 2 bottom-right, 3 bottom-left.
class RectROIItem : public RectROI, public ROIItem
{
public:
    RectROIItem(const QRectF& rect, int roiAttr, const QString& title);
    ~RectROIItem() override;

    void fromJson(const QJsonObject& json) override;
    void toJson(QJsonObject& json) const override;
    std::unique_ptr<ROIItem> clone() const override;
    QString displayName() const override;
    QString typeName() const override;
    QIcon icon() const override;
    void drawShape(QPainter* painter) const override;
    void drawToMask(cv::Mat& mask, float dx, float dy, uchar value) const override;
    void paint(QPainter* painter, float scale) const override;
    bool contains(const QPointF& point) const override;
    void beginDrag(const QPointF& point) override;
    void dragFromPress(const QPointF& point) override;
    void moveBy(const QPointF& delta) override;
    bool hitHandle(const QPointF& point, float scale) override;
    void setHandlePos(const QPointF& point) override;
    Box boundingBox() const override;
    double area() const override;
    void propertyHeaders(QStringList& headers) const override;
    void properties(QStringList& names, PropertyRows& values) const override;
    void setPoints(const PropertyRows& rows) override;

    static QString staticTypeName();

private:
    QPolygonF corners() const;

    QRectF m_savedRect;
};
