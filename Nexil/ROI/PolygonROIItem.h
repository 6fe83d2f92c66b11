#pragma once

#include "Nexil/ROI/PolygonROI.h"
#include "Nexil/ROI/ROIItem.h"

// Handles: one per vertex, numbered as the vertices. While the polygon is being drawn (attribute 6)
// the floating point, the pointer position, is shown as a provisional last vertex.
class PolygonROIItem : public PolygonROI, public ROIItem
{
public:
    PolygonROIItem(const QPolygonF& polygon, int roiAttr, const QString& title);
    ~PolygonROIItem() override;

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
    // A press near an edge (not a vertex) inserts a vertex there and makes it the active handle.
    bool hitHandle(const QPointF& point, float scale) override;
    void setHandlePos(const QPointF& point) override;
    Box boundingBox() const override;
    double area() const override;
    void propertyHeaders(QStringList& headers) const override;
    void properties(QStringList& names, PropertyRows& values) const override;
    void setPoints(const PropertyRows& rows) override;

    static QString staticTypeName();

    bool hasFloatingPoint() const { return m_hasFloatingPoint; }
    QPointF floatingPoint() const { return m_floatingPoint; }
    void setFloatingPoint(const QPointF& point);
    void clearFloatingPoint();

private:
    void paintInDrawing(QPainter* painter, float scale) const;

    QPolygonF m_savedPolygon;
    bool m_hasFloatingPoint = false;
    QPointF m_floatingPoint;
};
