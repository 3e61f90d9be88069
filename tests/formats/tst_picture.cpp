// SPDX-License-Identifier: GPL-3.0-or-later
#include "formats/graphics/Picture.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TestFolder.h"

#include <QBuffer>
#include <QImageWriter>
#include <QTest>

#include <sys/resource.h>

namespace {

QByteArray encoded(const QImage& image, const char* format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setQuality(60);
    writer.write(image);
    return bytes;
}

QByteArray progressiveJpeg(const QImage& image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "JPEG");
    writer.setProgressiveScanWrite(true);
    writer.write(image);
    return bytes;
}

// A small progressive JPEG whose frame header declares `side` × `side` pixels, as a file made
// to exhaust memory does: its data is only enough for a thumbnail.
QByteArray progressiveBomb(int side, QImage::Format format)
{
    QImage small(64, 64, format);
    small.fill(Qt::gray);
    QByteArray bytes = progressiveJpeg(small);
    const qsizetype frame = bytes.indexOf("\xFF\xC2");
    if (frame < 0)
        return {};
    bytes[frame + 5] = char(side >> 8);
    bytes[frame + 6] = char(side & 0xFF);
    bytes[frame + 7] = char(side >> 8);
    bytes[frame + 8] = char(side & 0xFF);
    return bytes;
}

// A photograph-like picture: every block has detail, so damage anywhere in its data shows.
QImage detailed(QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y) {
        for (int x = 0; x < size.width(); ++x)
            image.setPixel(x, y, qRgb((x * 7 + y * 3) % 256, (x * y) % 256, (x ^ y) % 256));
    }
    return image;
}

} // namespace

class PictureTest : public QObject {
    Q_OBJECT

private slots:
    void decodesAtTheSizeItIsDrawn_data();
    void decodesAtTheSizeItIsDrawn();
    void phonePhotoOf48MegapixelsLoads();
    void bombIsRefusedFromItsHeader();
    void bytesThatAreNoPicture();
    void progressiveJpegWithinTheBudget_data();
    void progressiveJpegWithinTheBudget();
    void progressiveBombRefusedQuicklyInLittleMemory();
    void integrityOfDamagedPictures_data();
    void integrityOfDamagedPictures();
};

void PictureTest::decodesAtTheSizeItIsDrawn_data()
{
    QTest::addColumn<QByteArray>("format");
    QTest::addColumn<QSize>("own");
    QTest::addColumn<QSize>("drawSize");
    QTest::addColumn<QSize>("expected");
    QTest::newRow("jpeg larger than drawn")
        << QByteArray("JPEG") << QSize(1200, 1600) << QSize(128, 160) << QSize(128, 171);
    QTest::newRow("png larger than drawn")
        << QByteArray("PNG") << QSize(1000, 500) << QSize(400, 260) << QSize(520, 260);
    QTest::newRow("smaller than drawn: own size")
        << QByteArray("PNG") << QSize(100, 80) << QSize(400, 260) << QSize(100, 80);
    QTest::newRow("no draw size: own size")
        << QByteArray("JPEG") << QSize(640, 480) << QSize() << QSize(640, 480);
}

void PictureTest::decodesAtTheSizeItIsDrawn()
{
    QFETCH(QByteArray, format);
    QFETCH(QSize, own);
    QFETCH(QSize, drawSize);
    QFETCH(QSize, expected);
    QImage source(own, QImage::Format_RGB32);
    source.fill(Qt::darkGreen);
    QString error;
    const QImage image = Picture::decode(encoded(source, format), drawSize, &error);
    QCOMPARE(error, QString());
    QCOMPARE(image.size(), expected);
    QCOMPARE(Picture::sizeOf(encoded(source, format)), own);
}

void PictureTest::phonePhotoOf48MegapixelsLoads()
{
    QImage source(8000, 6000, QImage::Format_RGB32);
    source.fill(QColor(200, 120, 40));
    const QByteArray bytes = encoded(source, "JPEG");
    source = QImage();
    QString error;
    const QImage photo = Picture::decode(bytes, QSize(128, 160), &error);
    QCOMPARE(error, QString());
    QCOMPARE(photo.size(), QSize(214, 160));
    QVERIFY(qAbs(photo.pixelColor(100, 80).red() - 200) < 8);
}

void PictureTest::bombIsRefusedFromItsHeader()
{
    const QByteArray bomb = pngPromising(20000, 20000);
    QCOMPARE(Picture::sizeOf(bomb), QSize(20000, 20000));
    QString error;
    // Its data is cut short: had it been decoded, the reason would be a damaged file.
    QVERIFY(Picture::decode(bomb, QSize(400, 260), &error).isNull());
    QVERIFY2(error.contains(u"图片太大") && error.contains(u"20000"), qPrintable(error));
}

void PictureTest::bytesThatAreNoPicture()
{
    QString error;
    QVERIFY(Picture::decode("not a picture at all", {}, &error).isNull());
    QCOMPARE(error, QString("不是图片文件"));
    QVERIFY(Picture::decode({}, {}, &error).isNull());
    QVERIFY(!Picture::sizeOf("plain text").isValid());
}

void PictureTest::progressiveJpegWithinTheBudget_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("refused");
    QImage photo(1600, 1200, QImage::Format_RGB32);
    photo.fill(QColor(30, 90, 200));
    QTest::newRow("colour photo") << progressiveJpeg(photo) << false;
    QTest::newRow("colour, 14100 square") << progressiveBomb(14100, QImage::Format_RGB32) << true;
    // One component still needs 14100 × 14100 × 2 bytes of coefficients, about 400 MB.
    QTest::newRow("grey, 14100 square") << progressiveBomb(14100, QImage::Format_Grayscale8) << true;
}

void PictureTest::progressiveJpegWithinTheBudget()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, refused);
    QVERIFY(!bytes.isEmpty());
    QString error;
    // Asked small: the decoder would still hold every coefficient of the whole picture.
    const QImage image = Picture::decode(bytes, QSize(400, 260), &error);
    QCOMPARE(image.isNull(), refused);
    QCOMPARE(error.startsWith(u"图片太大"), refused);
    if (!refused)
        QVERIFY(qAbs(image.pixelColor(10, 10).blue() - 200) < 8);
}

void PictureTest::progressiveBombRefusedQuicklyInLittleMemory()
{
    const QByteArray bomb = progressiveBomb(14100, QImage::Format_RGB32);
    QVERIFY(bomb.size() < 40 * 1024);
    // In a process of its own, so the peak is the refusal's and nobody else's.
    const int code = runInChild([&bomb] {
        rusage before{};
        getrusage(RUSAGE_SELF, &before);
        for (int i = 0; i < 3; ++i) {
            if (!Picture::decode(bomb, QSize(128, 160)).isNull())
                return false;
        }
        rusage after{};
        getrusage(RUSAGE_SELF, &after);
        const auto ms = [](const timeval& t) { return t.tv_sec * 1000.0 + t.tv_usec / 1000.0; };
        const double cpuMs =
            ms(after.ru_utime) + ms(after.ru_stime) - ms(before.ru_utime) - ms(before.ru_stime);
        const long peakMb = after.ru_maxrss / 1024;
        if (cpuMs > 200 || peakMb > 300) {
            qWarning("three refusals took %.0f ms of processor time and a peak of %ld MB", cpuMs, peakMb);
            return false;
        }
        return true;
    });
    QCOMPARE(code, 0);
}

void PictureTest::integrityOfDamagedPictures_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("integrity");
    const QByteArray jpeg = encoded(detailed({320, 240}), "JPEG");
    const QByteArray png = encoded(detailed({320, 240}), "PNG");
    const qsizetype scan = jpeg.indexOf("\xFF\xDA");
    const auto whole = int(Picture::Integrity::Whole);
    const auto damaged = int(Picture::Integrity::Damaged);
    const auto unreadable = int(Picture::Integrity::Unreadable);
    QTest::newRow("JPEG") << jpeg << whole;
    QTest::newRow("progressive JPEG") << progressiveJpeg(detailed({320, 240})) << whole;
    QTest::newRow("PNG") << png << whole;
    QTest::newRow("JPEG cut short") << jpeg.left(jpeg.size() * 2 / 3) << damaged;
    QByteArray garbled = jpeg;
    for (qsizetype i = scan + 200; i < scan + 260; ++i)
        garbled[i] = char(0xA5 ^ i);
    QTest::newRow("JPEG data garbled") << garbled << damaged;
    QByteArray marker = jpeg;
    marker.insert(scan + 300, QByteArray("\xFF\xD0", 2));
    QTest::newRow("JPEG marker in its data") << marker << damaged;
    QTest::newRow("JPEG header only") << jpeg.left(scan) << unreadable;
    QTest::newRow("PNG cut short") << png.left(png.size() / 2) << unreadable;
    QTest::newRow("no picture") << QByteArray("照片").repeated(40) << unreadable;
    QTest::newRow("bomb") << progressiveBomb(60000, QImage::Format_RGB32) << unreadable;
}

void PictureTest::integrityOfDamagedPictures()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, integrity);
    QCOMPARE(int(Picture::integrity(bytes)), integrity);
    // What is damaged still shows what decodes; what is unreadable shows nothing.
    if (integrity != int(Picture::Integrity::Unreadable))
        QVERIFY(!Picture::decode(bytes, {80, 60}).isNull());
}

QTEST_GUILESS_MAIN(PictureTest)
#include "tst_picture.moc"
