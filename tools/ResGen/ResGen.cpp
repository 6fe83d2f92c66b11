// Draws the kit's icons, button images and the frames of the wait animation into the resource
// folder. Run by hand when the images change; its output is committed:
//   ResGen <Lumora/resources>
// The frames are joined into gif/Wait_Loading.gif with ImageMagick's convert when it is installed
// (Qt cannot write GIF files); the build never needs it.

#include <QColor>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextStream>
#include <QtMath>

#include <functional>

namespace
{

const QColor kPrimary("#196E8B");
const QColor kHover("#2F8BA6");
const QColor kDark("#145369");
const QColor kAccent("#7FD4CD");
const QColor kGrey("#B0B0B0");
const QColor kGreen("#24A900");
const QColor kRed("#D83B3B");
const QColor kOrange("#F0A020");
const QColor kWhite("#FFFFFF");

// Every glyph is drawn on a 32 x 32 grid and scaled to the image size.
using Glyph = std::function<void(QPainter&)>;

QString g_outDir;
int g_written = 0;

bool Write(const QString& relPath, int size, const Glyph& glyph)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(size / 32.0, size / 32.0);
        glyph(p);
    }
    const QString path = g_outDir + QLatin1Char('/') + relPath;
    QDir().mkpath(QFileInfo(path).absolutePath());
    if (!image.save(path, "PNG"))
    {
        QTextStream(stderr) << "cannot write " << path << '\n';
        return false;
    }
    ++g_written;
    return true;
}

QPen Stroke(const QColor& c, qreal width = 2.5)
{
    return QPen(c, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

void Disc(QPainter& p, const QColor& c)
{
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawEllipse(QRectF(1, 1, 30, 30));
}

void Check(QPainter& p, const QColor& c, qreal width)
{
    p.setPen(Stroke(c, width));
    p.setBrush(Qt::NoBrush);
    p.drawPolyline(QPolygonF({QPointF(8.5, 16.5), QPointF(13.5, 21.5), QPointF(23.5, 10.5)}));
}

void Cross(QPainter& p, const QColor& c, qreal width, qreal inset)
{
    p.setPen(Stroke(c, width));
    p.drawLine(QPointF(inset, inset), QPointF(32 - inset, 32 - inset));
    p.drawLine(QPointF(32 - inset, inset), QPointF(inset, 32 - inset));
}

void Plus(QPainter& p, const QPointF& centre, qreal half, const QColor& c, qreal width)
{
    p.setPen(Stroke(c, width));
    p.drawLine(centre - QPointF(half, 0), centre + QPointF(half, 0));
    p.drawLine(centre - QPointF(0, half), centre + QPointF(0, half));
}

// A small filled badge with a plus, bottom right, for the "add" variants.
void PlusBadge(QPainter& p, const QColor& c)
{
    p.setPen(QPen(kWhite, 1.5));
    p.setBrush(c);
    p.drawEllipse(QPointF(24, 24), 7, 7);
    Plus(p, QPointF(24, 24), 3.5, kWhite, 2);
}

void Picture(QPainter& p, const QColor& c, const QRectF& r)
{
    p.setPen(Stroke(c, 2.2));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(r, 2, 2);
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    const qreal x = r.left(), y = r.top(), w = r.width(), h = r.height();
    p.drawPolygon(QPolygonF({QPointF(x + 2, y + h - 2), QPointF(x + w * 0.38, y + h * 0.45),
                             QPointF(x + w * 0.6, y + h * 0.7), QPointF(x + w * 0.72, y + h * 0.58),
                             QPointF(x + w - 2, y + h - 2)}));
    p.drawEllipse(QPointF(x + w * 0.72, y + h * 0.28), w * 0.08, w * 0.08);
}

void Folder(QPainter& p, const QColor& c)
{
    p.setPen(Stroke(c, 2.2));
    p.setBrush(Qt::NoBrush);
    QPainterPath path;
    path.moveTo(3, 8);
    path.lineTo(12, 8);
    path.lineTo(15, 11);
    path.lineTo(28, 11);
    path.lineTo(28, 26);
    path.lineTo(3, 26);
    path.closeSubpath();
    p.drawPath(path);
    p.drawLine(QPointF(3, 14), QPointF(28, 14));
}

void Tag(QPainter& p, const QColor& c, bool filled)
{
    QPainterPath path;
    path.moveTo(4, 6);
    path.lineTo(16, 6);
    path.lineTo(27, 17);
    path.lineTo(17, 27);
    path.lineTo(4, 14);
    path.closeSubpath();
    p.setPen(Stroke(c, 2.2));
    p.setBrush(filled ? QBrush(c) : QBrush(Qt::NoBrush));
    p.drawPath(path);
    p.setPen(Qt::NoPen);
    p.setBrush(filled ? kWhite : c);
    p.drawEllipse(QPointF(10, 12), 2.2, 2.2);
}

void Trash(QPainter& p, const QColor& c)
{
    p.setPen(Stroke(c, 2.2));
    p.setBrush(Qt::NoBrush);
    p.drawLine(QPointF(5, 8), QPointF(27, 8));
    p.drawPolyline(QPolygonF({QPointF(12, 8), QPointF(13, 4), QPointF(19, 4), QPointF(20, 8)}));
    p.drawPolygon(QPolygonF({QPointF(8, 8), QPointF(9.5, 28), QPointF(22.5, 28), QPointF(24, 8)}));
    p.drawLine(QPointF(13, 13), QPointF(13, 23));
    p.drawLine(QPointF(19, 13), QPointF(19, 23));
}

void Chevron(QPainter& p, const QColor& c, bool down)
{
    p.setPen(Stroke(c, 3));
    p.setBrush(Qt::NoBrush);
    if (down)
        p.drawPolyline(QPolygonF({QPointF(8, 12), QPointF(16, 20), QPointF(24, 12)}));
    else
        p.drawPolyline(QPolygonF({QPointF(12, 8), QPointF(20, 16), QPointF(12, 24)}));
}

void Triangle(QPainter& p, const QColor& c, bool down)
{
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    if (down)
        p.drawPolygon(QPolygonF({QPointF(8, 12), QPointF(24, 12), QPointF(16, 22)}));
    else
        p.drawPolygon(QPolygonF({QPointF(12, 8), QPointF(22, 16), QPointF(12, 24)}));
}

void Eye(QPainter& p, const QColor& c, bool open)
{
    p.setPen(Stroke(c, 2.2));
    p.setBrush(Qt::NoBrush);
    QPainterPath path;
    path.moveTo(3, 16);
    path.quadTo(16, 3, 29, 16);
    path.quadTo(16, 29, 3, 16);
    p.drawPath(path);
    p.setBrush(c);
    p.drawEllipse(QPointF(16, 16), 4, 4);
    if (!open)
    {
        p.setPen(Stroke(kWhite, 5));
        p.drawLine(QPointF(6, 26), QPointF(26, 6));
        p.setPen(Stroke(c, 2.2));
        p.drawLine(QPointF(6, 26), QPointF(26, 6));
    }
}

void BoxImage(QPainter& p, const QColor& border, const QColor& fill)
{
    p.setPen(QPen(border, 2));
    p.setBrush(fill);
    p.drawRoundedRect(QRectF(4, 4, 24, 24), 3, 3);
}

void RectShape(QPainter& p, const QColor& c)
{
    p.setPen(Stroke(c, 2.2));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRectF(6, 8, 20, 16));
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    for (const QPointF& pt : {QPointF(6, 8), QPointF(26, 8), QPointF(6, 24), QPointF(26, 24)})
        p.drawRect(QRectF(pt - QPointF(2.5, 2.5), QSizeF(5, 5)));
}

void PolygonShape(QPainter& p, const QColor& c)
{
    const QPolygonF pts({QPointF(16, 4), QPointF(28, 13), QPointF(23, 27), QPointF(8, 27), QPointF(4, 13)});
    p.setPen(Stroke(c, 2.2));
    p.setBrush(Qt::NoBrush);
    p.drawPolygon(pts);
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    for (const QPointF& pt : pts)
        p.drawEllipse(pt, 2.6, 2.6);
}

// The program's icon: an inspection frame over a part, in the kit's colours, for the desktop's menu
// and the window, at the sizes the desktops look for.
void WriteAppIcon()
{
    const Glyph glyph = [](QPainter& p)
    {
        p.setPen(Qt::NoPen);
        p.setBrush(kPrimary);
        p.drawRoundedRect(QRectF(1, 1, 30, 30), 6.5, 6.5);
        p.setBrush(kAccent);
        p.drawEllipse(QPointF(16, 16), 7.5, 7.5);
        p.setBrush(kDark);
        p.drawEllipse(QPointF(18.5, 13.5), 2.2, 2.2);
        QPen frame(kWhite, 2.2, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin);
        p.setPen(frame);
        p.setBrush(Qt::NoBrush);
        for (const QPointF& corner :
             {QPointF(5.5, 5.5), QPointF(26.5, 5.5), QPointF(26.5, 26.5), QPointF(5.5, 26.5)})
        {
            const qreal dx = corner.x() < 16 ? 5 : -5;
            const qreal dy = corner.y() < 16 ? 5 : -5;
            const QPointF line[] = {QPointF(corner.x() + dx, corner.y()), corner,
                                    QPointF(corner.x(), corner.y() + dy)};
            p.drawPolyline(line, 3);
        }
    };
    for (const int size : {16, 24, 32, 48, 64, 128, 256})
        Write(QStringLiteral("app/lumora_%1.png").arg(size), size, glyph);
}

void WriteAll()
{
    WriteAppIcon();
    // Message icons.
    Write("ico/NOTIFY_COMPLETE.png", 64,
          [](QPainter& p)
          {
              Disc(p, kGreen);
              Check(p, kWhite, 3.2);
          });
    Write("ico/NOTIFY_WARNING.png", 64,
          [](QPainter& p)
          {
              QPainterPath path;
              path.moveTo(16, 2.5);
              path.lineTo(30.5, 28.5);
              path.lineTo(1.5, 28.5);
              path.closeSubpath();
              p.setPen(QPen(kOrange, 2.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
              p.setBrush(kOrange);
              p.drawPath(path);
              p.setPen(Stroke(kWhite, 3.2));
              p.drawLine(QPointF(16, 11), QPointF(16, 19));
              p.drawPoint(QPointF(16, 24.5));
          });
    Write("ico/NOTIFY_ERROR.png", 64,
          [](QPainter& p)
          {
              Disc(p, kRed);
              Cross(p, kWhite, 3.2, 10.5);
          });
    Write("ico/NOTIFY_ABOUT.png", 64,
          [](QPainter& p)
          {
              Disc(p, kPrimary);
              p.setPen(Stroke(kWhite, 3.2));
              p.drawPoint(QPointF(16, 9.5));
              p.drawLine(QPointF(16, 14.5), QPointF(16, 23.5));
          });
    Write("ico/NOTIFY_QUERY.png", 64,
          [](QPainter& p)
          {
              Disc(p, kHover);
              p.setPen(Stroke(kWhite, 3.2));
              p.setBrush(Qt::NoBrush);
              QPainterPath path;
              path.moveTo(11, 12);
              path.cubicTo(11, 5.5, 21, 5.5, 21, 12);
              path.cubicTo(21, 16, 16, 16, 16, 19.5);
              p.drawPath(path);
              p.drawPoint(QPointF(16, 24.5));
          });

    // Title bar buttons: white on the primary blue.
    Write("image/close.png", 20, [](QPainter& p) { Cross(p, kWhite, 3, 7); });
    Write("image/min.png", 20,
          [](QPainter& p)
          {
              p.setPen(Stroke(kWhite, 3));
              p.drawLine(QPointF(7, 16), QPointF(25, 16));
          });

    // Tool and action images.
    Write("image/addImg.png", 48,
          [](QPainter& p)
          {
              Picture(p, kPrimary, QRectF(3, 5, 22, 18));
              PlusBadge(p, kPrimary);
          });
    Write("image/AddImgFlod.png", 48,
          [](QPainter& p)
          {
              Folder(p, kPrimary);
              PlusBadge(p, kPrimary);
          });
    Write("image/Find.png", 48,
          [](QPainter& p)
          {
              p.setPen(Stroke(kPrimary, 2.8));
              p.setBrush(Qt::NoBrush);
              p.drawEllipse(QPointF(13.5, 13.5), 8.5, 8.5);
              p.setPen(Stroke(kPrimary, 3.5));
              p.drawLine(QPointF(20, 20), QPointF(27.5, 27.5));
          });
    Write("image/Mod.png", 48,
          [](QPainter& p)
          {
              p.setPen(Stroke(kWhite, 2.2));
              p.setBrush(Qt::NoBrush);
              p.drawPolygon(QPolygonF(
                  {QPointF(7, 25), QPointF(8, 19), QPointF(21, 6), QPointF(26, 11), QPointF(13, 24)}));
              p.drawLine(QPointF(18, 9), QPointF(23, 14));
              p.drawLine(QPointF(5, 28), QPointF(27, 28));
          });
    Write("image/new.png", 48,
          [](QPainter& p)
          {
              p.setPen(Stroke(kWhite, 2.2));
              p.setBrush(Qt::NoBrush);
              p.drawPolygon(QPolygonF(
                  {QPointF(7, 3), QPointF(19, 3), QPointF(25, 9), QPointF(25, 29), QPointF(7, 29)}));
              p.drawPolyline(QPolygonF({QPointF(19, 3), QPointF(19, 9), QPointF(25, 9)}));
              Plus(p, QPointF(16, 19), 5, kWhite, 2.4);
          });
    Write("image/addMarks.png", 48,
          [](QPainter& p)
          {
              Tag(p, kPrimary, false);
              PlusBadge(p, kPrimary);
          });
    Write("image/marks.png", 48, [](QPainter& p) { Tag(p, kPrimary, true); });
    Write("image/Import.png", 48,
          [](QPainter& p)
          {
              p.setPen(Stroke(kPrimary, 2.4));
              p.setBrush(Qt::NoBrush);
              p.drawPolyline(QPolygonF({QPointF(4, 18), QPointF(4, 28), QPointF(28, 28), QPointF(28, 18)}));
              p.drawLine(QPointF(16, 3), QPointF(16, 20));
              p.drawPolyline(QPolygonF({QPointF(10, 14), QPointF(16, 20), QPointF(22, 14)}));
          });
    // The import tray with the arrow leaving it.
    Write("image/Export.png", 48,
          [](QPainter& p)
          {
              p.setPen(Stroke(kPrimary, 2.4));
              p.setBrush(Qt::NoBrush);
              p.drawPolyline(QPolygonF({QPointF(4, 18), QPointF(4, 28), QPointF(28, 28), QPointF(28, 18)}));
              p.drawLine(QPointF(16, 20), QPointF(16, 3));
              p.drawPolyline(QPolygonF({QPointF(10, 9), QPointF(16, 3), QPointF(22, 9)}));
          });
    Write("image/add.png", 48,
          [](QPainter& p)
          {
              p.setPen(Stroke(kPrimary, 2.4));
              p.setBrush(kWhite);
              p.drawEllipse(QPointF(16, 16), 13, 13);
              Plus(p, QPointF(16, 16), 7, kPrimary, 2.8);
          });
    Write("image/save.png", 48,
          [](QPainter& p)
          {
              p.setPen(Stroke(kPrimary, 2.2));
              p.setBrush(Qt::NoBrush);
              p.drawPolygon(QPolygonF(
                  {QPointF(4, 4), QPointF(23, 4), QPointF(28, 9), QPointF(28, 28), QPointF(4, 28)}));
              p.drawRect(QRectF(9, 4, 12, 8));
              p.drawRect(QRectF(8, 17, 16, 11));
          });
    Write("image/ZoomAll.png", 48,
          [](QPainter& p)
          {
              p.setPen(Stroke(kPrimary, 2.6));
              p.setBrush(Qt::NoBrush);
              p.drawPolyline(QPolygonF({QPointF(4, 11), QPointF(4, 4), QPointF(11, 4)}));
              p.drawPolyline(QPolygonF({QPointF(21, 4), QPointF(28, 4), QPointF(28, 11)}));
              p.drawPolyline(QPolygonF({QPointF(28, 21), QPointF(28, 28), QPointF(21, 28)}));
              p.drawPolyline(QPolygonF({QPointF(11, 28), QPointF(4, 28), QPointF(4, 21)}));
              p.drawRect(QRectF(11, 11, 10, 10));
          });
    Write("image/delete1.png", 48, [](QPainter& p) { Trash(p, kPrimary); });
    Write("image/del.png", 48,
          [](QPainter& p)
          {
              Tag(p, kPrimary, false);
              p.setPen(QPen(kWhite, 1.5));
              p.setBrush(kRed);
              p.drawEllipse(QPointF(24, 24), 7, 7);
              p.setPen(Stroke(kWhite, 2));
              p.drawLine(QPointF(20.5, 24), QPointF(27.5, 24));
          });
    Write("image/clear.png", 48,
          [](QPainter& p)
          {
              Trash(p, kPrimary);
              p.setPen(QPen(kWhite, 1.5));
              p.setBrush(kRed);
              p.drawEllipse(QPointF(24, 24), 7, 7);
              p.setPen(Stroke(kWhite, 2));
              p.drawLine(QPointF(21.5, 21.5), QPointF(26.5, 26.5));
              p.drawLine(QPointF(26.5, 21.5), QPointF(21.5, 26.5));
          });
    Write("image/clear2.png", 48,
          [](QPainter& p)
          {
              p.setPen(Stroke(kPrimary, 2.4));
              for (qreal y : {7.0, 14.0, 21.0})
                  p.drawLine(QPointF(4, y), QPointF(20, y));
              p.drawLine(QPointF(4, 28), QPointF(14, 28));
              p.setPen(Stroke(kRed, 2.6));
              p.drawLine(QPointF(19, 19), QPointF(28, 28));
              p.drawLine(QPointF(28, 19), QPointF(19, 28));
          });
    // Undo and redo: a hooked arrow turning back or on.
    for (const bool back : {true, false})
        Write(back ? "image/undo.png" : "image/redo.png", 48,
              [back](QPainter& p)
              {
                  if (!back)
                  {
                      p.translate(32, 0);
                      p.scale(-1, 1);
                  }
                  p.setPen(Stroke(kPrimary, 2.8));
                  p.setBrush(Qt::NoBrush);
                  QPainterPath hook;
                  hook.moveTo(8, 12);
                  hook.lineTo(19, 12);
                  hook.cubicTo(31, 12, 31, 27, 19, 27);
                  hook.lineTo(12, 27);
                  p.drawPath(hook);
                  p.setPen(Qt::NoPen);
                  p.setBrush(kPrimary);
                  p.drawPolygon(QPolygonF({QPointF(3, 12), QPointF(11, 5.5), QPointF(11, 18.5)}));
              });
    // Carrying ROIs over: a shape from the picture behind onto the picture in front.
    Write("image/carryRois.png", 48,
          [](QPainter& p)
          {
              p.setPen(Stroke(kGrey, 2.2));
              p.setBrush(Qt::NoBrush);
              p.drawRoundedRect(QRectF(3, 3, 18, 15), 2, 2);
              p.setPen(Stroke(kPrimary, 2.2));
              p.setBrush(kWhite);
              p.drawRoundedRect(QRectF(11, 12, 18, 15), 2, 2);
              p.setPen(QPen(kOrange, 2.2, Qt::DashLine));
              p.setBrush(Qt::NoBrush);
              p.drawRect(QRectF(15, 16, 9, 7));
              p.setPen(Stroke(kPrimary, 2));
              p.drawLine(QPointF(6, 22), QPointF(6, 28));
              p.drawLine(QPointF(3.5, 25.5), QPointF(6, 28));
              p.drawLine(QPointF(8.5, 25.5), QPointF(6, 28));
          });
    Write("image/rect.png", 48, [](QPainter& p) { RectShape(p, kPrimary); });
    Write("image/polygon.png", 48, [](QPainter& p) { PolygonShape(p, kPrimary); });
    Write("image/refresh.png", 48,
          [](QPainter& p)
          {
              p.setPen(Stroke(kPrimary, 2.8));
              p.setBrush(Qt::NoBrush);
              p.drawArc(QRectF(5, 5, 22, 22), 60 * 16, 280 * 16);
              p.setPen(Qt::NoPen);
              p.setBrush(kPrimary);
              const qreal a = qDegreesToRadians(60.0);
              const QPointF tip(16 + 11 * qCos(a), 16 - 11 * qSin(a));
              p.drawPolygon(QPolygonF({tip + QPointF(-6, -4), tip + QPointF(3, -5), tip + QPointF(-1, 4)}));
          });
    Write("image/Show.png", 48, [](QPainter& p) { Eye(p, kDark, true); });
    Write("image/Hide.png", 48, [](QPainter& p) { Eye(p, kDark, false); });

    // Controls drawn by the style sheets at their own size.
    Write("image/checkbox-un.png", 20, [](QPainter& p) { BoxImage(p, kGrey, kWhite); });
    Write("image/checkbox-ck.png", 20,
          [](QPainter& p)
          {
              BoxImage(p, kPrimary, kPrimary);
              Check(p, kWhite, 3.2);
          });
    // Header check box on the blue header: white boxes.
    Write("image/CheckBox1.png", 24, [](QPainter& p) { BoxImage(p, kWhite, kWhite); });
    Write("image/CheckBox2.png", 24,
          [](QPainter& p)
          {
              BoxImage(p, kWhite, kWhite);
              Check(p, kPrimary, 3.4);
          });
    Write("image/CheckBox3.png", 24,
          [](QPainter& p)
          {
              BoxImage(p, kWhite, kWhite);
              p.setPen(Qt::NoPen);
              p.setBrush(kPrimary);
              p.drawRect(QRectF(10, 10, 12, 12));
          });
    Write("image/rdo_unselect.png", 42,
          [](QPainter& p)
          {
              p.setPen(QPen(kGrey, 1.6));
              p.setBrush(kWhite);
              p.drawEllipse(QPointF(16, 16), 8, 8);
          });
    Write("image/rdo_select.png", 42,
          [](QPainter& p)
          {
              p.setPen(QPen(kPrimary, 1.6));
              p.setBrush(kWhite);
              p.drawEllipse(QPointF(16, 16), 8, 8);
              p.setPen(Qt::NoPen);
              p.setBrush(kPrimary);
              p.drawEllipse(QPointF(16, 16), 4.5, 4.5);
          });
    Write("image/dropdown.png", 16, [](QPainter& p) { Chevron(p, kPrimary, true); });
    Write("image/drawdown_dis.png", 16, [](QPainter& p) { Chevron(p, kGrey, true); });
    Write("image/arrow_down.png", 16, [](QPainter& p) { Triangle(p, kPrimary, true); });
    Write("image/arrow-right.png", 16, [](QPainter& p) { Triangle(p, kPrimary, false); });
    Write("image/sliderHandler.png", 20,
          [](QPainter& p)
          {
              p.setPen(QPen(kPrimary, 3));
              p.setBrush(kWhite);
              p.drawEllipse(QPointF(16, 16), 13, 13);
              p.setPen(Qt::NoPen);
              p.setBrush(kPrimary);
              p.drawEllipse(QPointF(16, 16), 5, 5);
          });

    // Item icons of the annotation page's lists and the ROI types.
    Write("icons/project.png", 32, [](QPainter& p) { Picture(p, kPrimary, QRectF(3, 6, 26, 20)); });
    Write("images/marks.png", 32,
          [](QPainter& p)
          {
              Disc(p, kAccent);
              Check(p, kDark, 3.4);
          });
    Write("img/Resources/Rect.png", 32, [](QPainter& p) { RectShape(p, kPrimary); });
    Write("img/Resources/Polygon.png", 32, [](QPainter& p) { PolygonShape(p, kPrimary); });
}

// Frames of the wait animation: twelve dots on a ring, the bright one going round.
bool WriteWaitAnimation(const QString& frameDir)
{
    constexpr int kFrames = 12;
    constexpr int kSize = 80;
    for (int f = 0; f < kFrames; ++f)
    {
        QImage image(kSize, kSize, QImage::Format_RGB32);
        image.fill(kWhite);
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        p.translate(kSize / 2.0, kSize / 2.0);
        for (int i = 0; i < kFrames; ++i)
        {
            const int age = (f - i + kFrames) % kFrames;
            QColor c = kPrimary;
            c.setAlphaF(qMax(0.15, 1.0 - age / 8.0));
            const qreal a = 2 * M_PI * i / kFrames - M_PI / 2;
            const qreal radius = age == 0 ? 6.0 : 4.5;
            p.setPen(Qt::NoPen);
            p.setBrush(c);
            p.drawEllipse(QPointF(28 * qCos(a), 28 * qSin(a)), radius, radius);
        }
        p.end();
        if (!image.save(QStringLiteral("%1/frame%2.png").arg(frameDir).arg(f, 2, 10, QLatin1Char('0'))))
            return false;
    }
    const QString convert = QStandardPaths::findExecutable(QStringLiteral("convert"));
    if (convert.isEmpty())
    {
        QTextStream(stderr) << "convert not found; frames left in " << frameDir << '\n';
        return false;
    }
    QDir().mkpath(g_outDir + QStringLiteral("/gif"));
    QStringList args{QStringLiteral("-delay"), QStringLiteral("8"), QStringLiteral("-loop"),
                     QStringLiteral("0")};
    for (int f = 0; f < kFrames; ++f)
        args << QStringLiteral("%1/frame%2.png").arg(frameDir).arg(f, 2, 10, QLatin1Char('0'));
    args << g_outDir + QStringLiteral("/gif/Wait_Loading.gif");
    return QProcess::execute(convert, args) == 0;
}

} // namespace

int main(int argc, char* argv[])
{
    QGuiApplication app(argc, argv);
    if (argc != 2)
    {
        QTextStream(stderr) << "usage: ResGen <resource folder>\n";
        return 2;
    }
    g_outDir = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    WriteAll();
    QTemporaryDir frames;
    const bool gif = frames.isValid() && WriteWaitAnimation(frames.path());
    if (!gif)
        frames.setAutoRemove(false);
    QTextStream(stdout) << g_written << " images written to " << g_outDir << (gif ? ", animation joined" : "")
                        << '\n';
    return gif ? 0 : 1;
}
