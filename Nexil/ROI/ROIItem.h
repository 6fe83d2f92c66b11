#pragma once

#include <QColor>
#include <QIcon>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QPointF>
#include <QPolygonF>
#include <QString>
#include <QStringList>
#include <QVector>

#include <memory>

class QPainter;
namespace cv
{
class Mat;
}

// Editing and storage side of an annotation shape, shared by the core library and the canvas.
// Only geometry, the attribute and the title are stored; selection, the active handle, the press
// point and saved geometry are transient editing state.
class ROIItem : public QObject
{
public:
    // Axis-aligned extent in image pixels.
    struct Box
    {
        float x = 0;
        float y = 0;
        float width = 0;
        float height = 0;
    };
    // Property table rows: one row per name, each holding single-precision numbers.
    using PropertyRows = QVector<QVector<float>>;

    ROIItem(int roiAttr, const QString& title);
    ~ROIItem() override;

    virtual void fromJson(const QJsonObject& json) = 0;
    virtual void toJson(QJsonObject& json) const = 0;
    // Same geometry, attribute and title; not selected, no active handle.
    virtual std::unique_ptr<ROIItem> clone() const = 0;
    virtual QString displayName() const = 0;
    virtual QString typeName() const = 0;
    virtual QIcon icon() const = 0;
    virtual void drawShape(QPainter* painter) const = 0;
    // Fills the shape, shifted by (-dx, -dy), into the mask with the colour (value, 0, 0, 0).
    virtual void drawToMask(cv::Mat& mask, float dx, float dy, uchar value) const = 0;
    // scale is the canvas zoom: outlines and handles keep their screen size at any zoom.
    virtual void paint(QPainter* painter, float scale) const = 0;
    virtual bool contains(const QPointF& point) const = 0;
    virtual void beginDrag(const QPointF& point) = 0;
    virtual void dragFromPress(const QPointF& point) = 0;
    virtual void moveBy(const QPointF& delta) = 0;
    // Picks the handle under the point (10 screen pixels) and makes it active.
    virtual bool hitHandle(const QPointF& point, float scale) = 0;
    virtual void setHandlePos(const QPointF& point) = 0;
    virtual Box boundingBox() const = 0;
    virtual double area() const = 0;
    virtual void propertyHeaders(QStringList& headers) const = 0;
    virtual void properties(QStringList& names, PropertyRows& values) const = 0;
    virtual void setPoints(const PropertyRows& rows) = 0;

    // Outline colour of an attribute; an invalid colour for an unknown attribute.
    static QColor attrColor(int roiAttr, bool selected);
    // The display colour of a finished shape when it has one, else the attribute's.
    QColor outlineColor() const;
    // How a view shows the shape, never stored: the colour of its category (invalid: by the attribute;
    // a coloured shape is marked as selected by a tint instead of another colour), and whether paint
    // writes the title or the view lays the titles out itself, apart from each other.
    void setDisplayColor(const QColor& color) { m_displayColor = color; }
    const QColor& displayColor() const { return m_displayColor; }
    void setTitleShown(bool shown) { m_titleShown = shown; }
    bool titleShown() const { return m_titleShown; }

    bool isSelected() const { return m_selected; }
    void setSelected(bool selected) { m_selected = selected; }
    int roiAttr() const { return m_roiAttr; }
    void setRoiAttr(int roiAttr) { m_roiAttr = roiAttr; }
    QPointF pressPoint() const { return m_pressPoint; }
    int activeHandle() const { return m_activeHandle; }
    void setActiveHandle(int handle) { m_activeHandle = handle; }
    const QString& title() const { return m_title; }
    void setTitle(const QString& title) { m_title = title; }

    // Attribute of a shape that is still being drawn.
    static constexpr int kDrawingAttr = 6;
    // Handle radius and hit tolerance in screen pixels; the active handle is drawn larger.
    static constexpr float kHandleRadius = 10.0f;
    static constexpr float kActiveHandleRadius = 15.0f;

    // Stored coordinates keep two decimals (halves away from zero); a non-finite coordinate is stored as 0.
    static double roundCoord(double value);

protected:
    // Truncates toward zero into the range OpenCV's drawing can take without overflowing.
    static int maskCoord(double value);
    // Truncates toward zero; out-of-range and non-finite values saturate (NaN gives 0).
    static int truncToInt(double value);
    // An integral JSON number in int range, else 0.
    static int jsonInt(const QJsonValue& value);
    void readAttrAndTitle(const QJsonObject& json);
    void writeAttrAndTitle(QJsonObject& json) const;

    void drawTitle(QPainter* painter, const QPointF& anchor) const;
    // Strokes the shape (drawShape) in its outline colour, over a dark halo when it has a display colour.
    void paintOutline(QPainter* painter) const;
    void drawHandles(QPainter* painter, const QPolygonF& handles, float scale) const;
    static void useHandlePen(QPainter* painter);
    static void drawHandleCircle(QPainter* painter, const QPointF& centre, float scale);
    static bool usableScale(float scale);

    bool m_selected = false;
    int m_roiAttr = 0;
    QPointF m_pressPoint;
    int m_activeHandle = -1;
    QString m_title;
    QColor m_displayColor;
    bool m_titleShown = true;
};

// An image's ROIs in drawing order.
using ROIList = QList<std::shared_ptr<ROIItem>>;
