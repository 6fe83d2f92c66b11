#include "Nexil/ImageDecode.h"
#include "Nexil/ImageFiles.h"
#include "Nexil/ImageHeader.h"

#include "HostileImage.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <opencv2/imgcodecs.hpp>

#include <array>
#include <vector>

namespace
{

QByteArray Bytes(std::initializer_list<int> values)
{
    QByteArray bytes;
    for (const int v : values)
        bytes.append(char(v & 0xFF));
    return bytes;
}

QByteArray Encode(const char* ext, const cv::Mat& image, const std::vector<int>& params = {})
{
    std::vector<uchar> bytes;
    if (!cv::imencode(ext, image, bytes, params))
        return QByteArray();
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), int(bytes.size()));
}

cv::Mat Colour(int width, int height)
{
    return cv::Mat(height, width, CV_8UC3, cv::Scalar(20, 120, 220));
}

// A TIFF block whose first directory holds only the orientation tag.
QByteArray Tiff(bool intel, int orientation)
{
    const auto u16 = [intel](int v) { return intel ? Bytes({v, v >> 8}) : Bytes({v >> 8, v}); };
    const auto u32 = [&](int v)
    { return intel ? u16(v & 0xFFFF) + u16(v >> 16) : u16(v >> 16) + u16(v & 0xFFFF); };
    return QByteArray(intel ? "II" : "MM") + u16(0x2A) + u32(8) + u16(1) + u16(0x0112) + u16(3) + u32(1) +
           u16(orientation) + u16(0) + u32(0);
}

QByteArray Segment(uchar marker, const QByteArray& payload)
{
    const int length = payload.size() + 2;
    return Bytes({0xFF, marker, length >> 8, length}) + payload;
}

// A JPEG with the given segments placed right after its start marker.
QByteArray JpegWith(int width, int height, const QByteArray& segments)
{
    QByteArray jpeg = Encode(".jpg", Colour(width, height));
    return jpeg.left(2) + segments + jpeg.mid(2);
}

// A PNG carrying an eXIf chunk right after its header chunk, or just before its end chunk.
QByteArray PngWithExif(int width, int height, int orientation, bool atEnd = false, bool damaged = false)
{
    const QByteArray png = Encode(".png", Colour(width, height));
    QByteArray whole = PngChunk("eXIf", Tiff(false, orientation));
    if (damaged)
        whole[whole.size() - 1] = char(whole.back() ^ 1);
    const int at = atEnd ? png.size() - 12 : 33;
    return png.left(at) + whole + png.mid(at);
}

// The BMP stored top-down: the same pixels, the height negated.
QByteArray TopDownBmp(int width, int height)
{
    QByteArray bmp = Encode(".bmp", Colour(width, height));
    const qint32 negative = -height;
    for (int i = 0; i < 4; ++i)
        bmp[22 + i] = char((quint32(negative) >> (8 * i)) & 0xFF);
    return bmp;
}

// An uncompressed grey TIFF made by hand, in either byte order, with an orientation tag.
QByteArray GreyTiff(bool intel, int width, int height, int orientation, int bits)
{
    const auto u16 = [intel](int v) { return intel ? Bytes({v, v >> 8}) : Bytes({v >> 8, v}); };
    const auto u32 = [&](int v)
    { return intel ? u16(v & 0xFFFF) + u16(v >> 16) : u16(v >> 16) + u16(v & 0xFFFF); };
    const int bytes = (width * height * bits / 8 + 1) / 2 * 2;
    const QList<std::array<int, 3>> entries{{256, 4, width},       {257, 3, height},
                                            {258, 3, bits},        {259, 3, 1},
                                            {262, 3, 1},           {273, 4, 8},
                                            {274, 3, orientation}, {277, 3, 1},
                                            {278, 4, height},      {279, 4, width * height * bits / 8}};
    QByteArray tiff = QByteArray(intel ? "II" : "MM") + u16(0x2A) + u32(8 + bytes) +
                      QByteArray(bytes, '\x40') + u16(int(entries.size()));
    for (const auto& [tag, type, value] : entries)
        tiff += u16(tag) + u16(type) + u32(1) + (type == 3 ? u16(value) + u16(0) : u32(value));
    return tiff + u32(0);
}

QByteArray JpegClaiming(int width, int height)
{
    QByteArray jpeg = Encode(".jpg", Colour(8, 8));
    const int sof = jpeg.indexOf(QByteArray("\xFF\xC0", 2));
    jpeg.replace(sof + 5, 4, Bytes({height >> 8, height, width >> 8, width}));
    return jpeg;
}

QByteArray BmpClaiming(qint32 width, qint32 height)
{
    QByteArray bmp = Encode(".bmp", Colour(4, 4));
    for (int i = 0; i < 4; ++i)
    {
        bmp[18 + i] = char((quint32(width) >> (8 * i)) & 0xFF);
        bmp[22 + i] = char((quint32(height) >> (8 * i)) & 0xFF);
    }
    return bmp;
}

} // namespace

// Image sizes read from the file head must be those of OpenCV's colour decoding, orientation included.
class tst_ImageHeader : public QObject
{
    Q_OBJECT

private slots:
    void sizeAsDecoded_data();
    void sizeAsDecoded();
    void cutFiles_data();
    void cutFiles();
    void hostileFiles_data();
    void hostileFiles();
    void imageFileRules_data();
    void imageFileRules();
};

void tst_ImageHeader::sizeAsDecoded_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("known"); // false: the header reader leaves the file to the decoder

    QTest::newRow("PNG") << Encode(".png", Colour(64, 48)) << true;
    QTest::newRow("PNG 16-bit grey") << Encode(".png", cv::Mat(7, 300, CV_16UC1, cv::Scalar(999))) << true;
    QTest::newRow("PNG with EXIF orientation 6") << PngWithExif(30, 20, 6) << true;
    QTest::newRow("PNG with EXIF orientation 8 after the pixels") << PngWithExif(30, 20, 8, true) << true;
    QTest::newRow("PNG with a damaged EXIF chunk") << PngWithExif(30, 20, 6, false, true) << true;
    QTest::newRow("JPEG") << Encode(".jpg", Colour(40, 30)) << true;
    QTest::newRow("JPEG progressive")
        << Encode(".jpg", Colour(41, 29), {cv::IMWRITE_JPEG_PROGRESSIVE, 1}) << true;
    for (int orientation = 1; orientation <= 8; ++orientation)
    {
        for (const bool intel : {true, false})
        {
            QTest::addRow("JPEG orientation %d %s", orientation, intel ? "II" : "MM")
                << JpegWith(50, 20, Segment(0xE1, QByteArray("Exif\0\0", 6) + Tiff(intel, orientation)))
                << true;
        }
    }
    QTest::newRow("JPEG orientation 6 behind an XMP segment")
        << JpegWith(50, 20,
                    Segment(0xE1, "http://ns.adobe.com/xap/1.0/\0<x/>") +
                        Segment(0xE1, QByteArray("Exif\0\0", 6) + Tiff(true, 6)))
        << true;
    QTest::newRow("JPEG with a cut EXIF block")
        << JpegWith(50, 20, Segment(0xE1, QByteArray("Exif\0\0", 6) + Tiff(true, 6).left(12))) << true;
    QTest::newRow("BMP") << Encode(".bmp", Colour(33, 17)) << true;
    QTest::newRow("BMP grey") << Encode(".bmp", cv::Mat(9, 13, CV_8UC1, cv::Scalar(7))) << true;
    QTest::newRow("BMP top-down") << TopDownBmp(21, 11) << true;
    QTest::newRow("TIFF") << Encode(".tiff", Colour(12, 8)) << true;
    QTest::newRow("TIFF 16-bit grey") << Encode(".tiff", cv::Mat(7, 300, CV_16UC1, cv::Scalar(999))) << true;
    for (const int orientation : {1, 5, 6, 7, 8})
    {
        for (const bool intel : {true, false})
        {
            QTest::addRow("TIFF orientation %d %s", orientation, intel ? "II" : "MM")
                << GreyTiff(intel, 30, 20, orientation, intel ? 8 : 16) << true;
        }
    }
    QTest::newRow("text") << QByteArray("not an image") << false;
    QTest::newRow("PNG cut in its header") << Encode(".png", Colour(64, 48)).left(20) << false;
    QTest::newRow("JPEG cut before its frame") << Encode(".jpg", Colour(40, 30)).left(6) << false;
    QTest::newRow("empty") << QByteArray() << false;
}

void tst_ImageHeader::sizeAsDecoded()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, known);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    // No suffix: both readers go by the content.
    const QString path = dir.path() + "/image";
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), qint64(bytes.size()));
    file.close();

    const auto size = ImageHeader::ReadSize(path);
    QCOMPARE(size.has_value(), known);
    if (known)
    {
        const cv::Mat decoded = cv::imread(QFile::encodeName(path).toStdString(), cv::IMREAD_COLOR);
        QVERIFY(!decoded.empty());
        QCOMPARE(*size, QSize(decoded.cols, decoded.rows));
        QCOMPARE(ImageDecode::Size(path), *size);
        QVERIFY(!ImageDecode::Read(path, cv::IMREAD_ANYDEPTH | cv::IMREAD_ANYCOLOR).empty());
    }
}

void tst_ImageHeader::cutFiles_data()
{
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("PNG with EXIF") << PngWithExif(30, 20, 6);
    QTest::newRow("JPEG with EXIF") << JpegWith(50, 20,
                                                Segment(0xE1, QByteArray("Exif\0\0", 6) + Tiff(false, 8)));
    QTest::newRow("BMP") << Encode(".bmp", Colour(5, 3));
    QTest::newRow("TIFF") << GreyTiff(false, 6, 4, 6, 16);
}

// A file cut anywhere in its head never makes the reader read past what is there, and a size it
// does tell is the decoder's whenever the decoder can still read the file.
void tst_ImageHeader::cutFiles()
{
    QFETCH(QByteArray, bytes);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.path() + "/cut";
    for (int length = 0; length < std::min(bytes.size(), 300); ++length)
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes.left(length));
        file.close();
        const auto size = ImageHeader::ReadSize(path);
        if (!size)
            continue;
        const cv::Mat decoded = cv::imread(QFile::encodeName(path).toStdString(), cv::IMREAD_COLOR);
        if (!decoded.empty())
            QCOMPARE(*size, QSize(decoded.cols, decoded.rows));
    }
}

void tst_ImageHeader::hostileFiles_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("tooLarge"); // refused on its header, before the decoder sees it
    QTest::addColumn<QSize>("claimed"); // what the header tells when it is not refused

    QTest::newRow("PNG claiming 100000 x 100000") << PngClaiming(100000, 100000) << true << QSize();
    QTest::newRow("PNG claiming a side over the PNG limit") << PngClaiming(2000000, 1) << true << QSize();
    QTest::newRow("PNG claiming 30000 x 30000") << PngClaiming(30000, 30000) << false << QSize(30000, 30000);
    QTest::newRow("JPEG claiming 65535 x 65535") << JpegClaiming(65535, 65535) << true << QSize();
    QTest::newRow("BMP claiming 100000 x 100000") << BmpClaiming(100000, 100000) << true << QSize();
    QTest::newRow("BMP claiming 100000 x -100000") << BmpClaiming(100000, -100000) << true << QSize();
    // A format without a header reader: the decoder's own refusal, a thrown exception, is caught.
    QTest::newRow("PGM claiming 100000 x 100000")
        << QByteArray("P5\n100000 100000\n255\n\0\0") << false << QSize();
}

// No file, however large its header claims the image is, throws or yields an image; a header naming
// more than the decoder takes is not even handed to it.
void tst_ImageHeader::hostileFiles()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, tooLarge);
    QFETCH(QSize, claimed);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.path() + "/hostile.png";
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), qint64(bytes.size()));
    file.close();

    bool claimsTooMuch = !tooLarge;
    QCOMPARE(ImageHeader::ReadSize(path, claimsTooMuch).value_or(QSize()), claimed);
    QCOMPARE(claimsTooMuch, tooLarge);
    QCOMPARE(ImageDecode::Size(path), claimed);
    QVERIFY(ImageDecode::Read(path, cv::IMREAD_COLOR).empty());
    QVERIFY(ImageDecode::Read(path, cv::IMREAD_ANYDEPTH | cv::IMREAD_ANYCOLOR).empty());
}

void tst_ImageHeader::imageFileRules_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("image");
    QTest::addColumn<QString>("annotation");
    QTest::newRow("plain") << "/p/a.png" << true << "/p/a.json";
    QTest::newRow("upper case") << "/p/A.TIFF" << true << "/p/A.json";
    QTest::newRow("two dots") << "/p/b.v2.jpeg" << true << "/p/b.v2.json";
    QTest::newRow("dot in a folder") << "/p.q/c" << false << "/p.q/c.json";
    QTest::newRow("not an image") << "/p/d.json" << false << "/p/d.json";
    QTest::newRow("suffix only as part") << "/p/e.xpng" << false << "/p/e.json";
}

// Which files are images and where their annotation lies: the store, the loader, the data set check
// and the service all go by this.
void tst_ImageHeader::imageFileRules()
{
    QFETCH(QString, path);
    QFETCH(bool, image);
    QFETCH(QString, annotation);
    QCOMPARE(ImageFiles::IsImageName(QFileInfo(path).fileName()), image);
    QCOMPARE(ImageFiles::AnnotationPath(path), annotation);
}

QTEST_GUILESS_MAIN(tst_ImageHeader)
#include "tst_ImageHeader.moc"
