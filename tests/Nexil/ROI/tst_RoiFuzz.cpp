#include "Nexil/ROI/AnnotationText.h"
#include "Nexil/ROI/PolygonROIItem.h"
#include "Nexil/ROI/RectROIItem.h"

#include <QImage>
#include <QPainter>
#include <QRandomGenerator>
#include <QtTest>

#include <opencv2/core.hpp>

// The ROI list text comes from a database file that anyone can edit; whatever it holds, parsing
// and every later use of the parsed ROIs must finish without a crash.
class TestRoiFuzz : public QObject
{
    Q_OBJECT

private slots:
    void hostileTexts_data();
    void hostileTexts();
    void mutatedTexts();

private:
    void exercise(const QString& text);
};

namespace
{
const QString kValid = QStringLiteral(
    R"([{"type":"rectangle","value":{"rectangle":[10.5,20,30.13,40.5],"roiAttr":2,"title":"划痕"}},)"
    R"({"type":"Polygon","value":{"Points":[1,2,30,4,5,60,-7,8],"roiAttr":6,"title":"dot"}},)"
    R"({"type":"Polygon","value":{"Points":[0,0,10,0],"roiAttr":0,"title":""}}])");

QString Repeat(const QString& piece, int count)
{
    QString text;
    text.reserve(piece.size() * count);
    for (int i = 0; i < count; ++i)
        text += piece;
    return text;
}

QString Rect(const QString& values, const QString& rest = QString())
{
    return QStringLiteral(R"([{"type":"rectangle","value":{"rectangle":%1%2}}])").arg(values, rest);
}

QString Points(const QString& values, const QString& rest = QString())
{
    return QStringLiteral(R"([{"type":"Polygon","value":{"Points":%1%2}}])").arg(values, rest);
}
} // namespace

void TestRoiFuzz::exercise(const QString& text)
{
    const ROIList rois = AnnotationText::parseRoiListText(text);
    cv::Mat mask = cv::Mat::zeros(32, 32, CV_8UC1);
    QImage image(48, 48, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    for (const std::shared_ptr<ROIItem>& roi : rois)
    {
        QVERIFY(roi);
        roi->area();
        roi->boundingBox();
        roi->contains(QPointF(5, 5));
        roi->drawToMask(mask, 0.5f, -0.5f, 9);
        for (const float scale : {1.0f, 0.001f, 1e30f})
        {
            roi->setSelected(false);
            roi->paint(&painter, scale);
            roi->setSelected(true);
            if (roi->hitHandle(QPointF(10, 20), scale))
                roi->setHandlePos(QPointF(11, 21));
            roi->paint(&painter, scale);
        }
        roi->beginDrag(QPointF(1, 1));
        roi->dragFromPress(QPointF(2, 3));
        roi->moveBy(QPointF(-1, -1));
        QStringList names;
        ROIItem::PropertyRows rows;
        roi->properties(names, rows);
        roi->setPoints(rows);
        QVERIFY(roi->clone());
    }
    painter.end();

    AnnotationText::buildAnnotationFileText(QStringLiteral("x.png"), 32, 32, rois);
    // Whatever was read, a text written once reads back to the same text.
    const QString written = AnnotationText::buildRoiListText(rois);
    QCOMPARE(AnnotationText::buildRoiListText(AnnotationText::parseRoiListText(written)), written);
}

void TestRoiFuzz::hostileTexts_data()
{
    QTest::addColumn<QString>("text");

    QTest::newRow("truncated") << kValid.left(kValid.size() / 2);
    QTest::newRow("truncated in a number") << kValid.left(kValid.indexOf(QStringLiteral("30.13")) + 3);
    QTest::newRow("garbage") << QStringLiteral("\x01\x02 not json at all }{][");
    QTest::newRow("lone surrogate") << QString(QChar(0xD800)) + kValid;
    QTest::newRow("null") << QStringLiteral("null");
    QTest::newRow("number") << QStringLiteral("42");
    QTest::newRow("elements of wrong type") << QStringLiteral(R"([1,"a",null,true,[],[[]],{}])");
    QTest::newRow("type of wrong type")
        << QStringLiteral(R"([{"type":1,"value":{}},{"type":["rectangle"]}])");
    QTest::newRow("value of wrong type") << QStringLiteral(R"([{"type":"rectangle","value":[1,2,3,4]}])");
    QTest::newRow("rectangle of wrong type") << Rect(QStringLiteral(R"("1,2,3,4")"));
    QTest::newRow("rectangle of strings") << Rect(QStringLiteral(R"(["1","2","3","4"])"));
    QTest::newRow("rectangle too short") << Rect(QStringLiteral("[5]"));
    QTest::newRow("rectangle nested") << Rect(QStringLiteral("[[1,2],[3,4]]"));
    QTest::newRow("rectangle huge") << Rect(QStringLiteral("[-1e308,-1e308,1e308,1e308]"));
    QTest::newRow("rectangle overflowing") << Rect(QStringLiteral("[1e309,-1e999,1e400,2]"));
    QTest::newRow("rectangle long integers") << Rect(QStringLiteral("[99999999999999999999999,0,3,4]"));
    QTest::newRow("rectangle tiny") << Rect(QStringLiteral("[1e-320,4.9e-324,-0,0.0]"));
    QTest::newRow("NaN-like words") << Rect(QStringLiteral("[NaN,Infinity,-Infinity,nan]"));
    QTest::newRow("NaN-like strings") << Rect(QStringLiteral(R"(["NaN","Infinity","-inf","1e999"])"));
    QTest::newRow("attribute huge") << Rect(QStringLiteral("[0,0,4,4]"),
                                            QStringLiteral(R"(,"roiAttr":1e300)"));
    QTest::newRow("attribute at int limits")
        << Rect(QStringLiteral("[0,0,4,4]"), QStringLiteral(R"(,"roiAttr":-2147483649)"));
    QTest::newRow("attribute of wrong type")
        << Rect(QStringLiteral("[0,0,4,4]"), QStringLiteral(R"(,"roiAttr":{"a":1},"title":[1])"));
    QTest::newRow("odd point count") << Points(QStringLiteral("[1,2,3,4,5,6,7]"));
    QTest::newRow("one number") << Points(QStringLiteral("[1]"));
    QTest::newRow("points of wrong type") << Points(QStringLiteral(R"({"0":1})"));
    QTest::newRow("points mixed") << Points(QStringLiteral(R"([1,"2",null,true,[3],{},5,6])"));
    QTest::newRow("points huge") << Points(QStringLiteral("[1e308,1e308,-1e308,1e308,0,-1e308,1e308,0]"));
    QTest::newRow("points overflowing") << Points(QStringLiteral("[1e309,0,0,1e309,-1e309,-1e309]"));
    QTest::newRow("points collapsed") << Points(QStringLiteral("[5,5,5,5,5,5,5,5]"));
    QTest::newRow("many points") << Points(QStringLiteral("[") + Repeat(QStringLiteral("1.5,2.25,"), 20000) +
                                           QStringLiteral("3]"));
    QTest::newRow("deep array nesting")
        << Repeat(QStringLiteral("["), 100000) + Repeat(QStringLiteral("]"), 100000);
    QTest::newRow("deep object nesting") << Repeat(QStringLiteral(R"({"a":)"), 100000);
    QTest::newRow("deep nesting in value")
        << QStringLiteral(R"([{"type":"Polygon","value":)") + Repeat(QStringLiteral(R"({"Points":)"), 5000) +
               QStringLiteral("[1,2,3,4,5,6]") + Repeat(QStringLiteral("}"), 5000) + QStringLiteral("}]");
    QTest::newRow("long title") << Rect(QStringLiteral("[0,0,1,1]"),
                                        QStringLiteral(R"(,"title":")") +
                                            Repeat(QStringLiteral("界\\n\\u0000"), 50000) +
                                            QStringLiteral("\""));
    QTest::newRow("many elements")
        << QStringLiteral("[") +
               Repeat(QStringLiteral(R"({"type":"rectangle","value":{"rectangle":[0,0,1,1]}},)"), 2000) +
               QStringLiteral("{}]");
    QTest::newRow("duplicate keys") << QStringLiteral(
        R"([{"type":"circle","type":"Polygon","value":{"Points":[0,0,4,0,0,4],"Points":"x"}}])");
}

void TestRoiFuzz::hostileTexts()
{
    QFETCH(QString, text);
    exercise(text);
}

void TestRoiFuzz::mutatedTexts()
{
    // A fixed seed keeps a failure reproducible.
    QRandomGenerator random(20240611u);
    const QString pieces[] = {QStringLiteral("["),     QStringLiteral("]"),    QStringLiteral("{"),
                              QStringLiteral("}"),     QStringLiteral(","),    QStringLiteral(":"),
                              QStringLiteral("\""),    QStringLiteral("-"),    QStringLiteral("e999"),
                              QStringLiteral("1e308"), QStringLiteral("null"), QStringLiteral("\\u")};
    for (int round = 0; round < 3000; ++round)
    {
        QString text = kValid;
        const int edits = 1 + random.bounded(6);
        for (int i = 0; i < edits; ++i)
        {
            const int at = random.bounded(text.size() + 1);
            switch (random.bounded(4))
            {
            case 0:
                text.insert(at, pieces[random.bounded(int(std::size(pieces)))]);
                break;
            case 1:
                text.remove(at, 1 + random.bounded(4));
                break;
            case 2:
                if (at < text.size())
                    text[at] = QChar(ushort(random.bounded(0x80)));
                break;
            default:
                text.truncate(at);
                break;
            }
        }
        exercise(text);
        if (QTest::currentTestFailed())
        {
            qWarning("mutation %d failed on: %s", round, qPrintable(text));
            return;
        }
    }
}

QTEST_MAIN(TestRoiFuzz)
#include "tst_RoiFuzz.moc"
