// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Picture.h"
#include "tests/support/TestFolder.h"

#include <QBuffer>
#include <QImageWriter>
#include <QTest>

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

} // namespace

class PictureTest : public QObject {
    Q_OBJECT

private slots:
    void decodesAtTheSizeItIsDrawn_data();
    void decodesAtTheSizeItIsDrawn();
    void phonePhotoOf48MegapixelsLoads();
    void bombIsRefusedFromItsHeader();
    void bytesThatAreNoPicture();
};

void PictureTest::decodesAtTheSizeItIsDrawn_data()
{
    QTest::addColumn<QByteArray>("format");
    QTest::addColumn<QSize>("own");
    QTest::addColumn<QSize>("drawSize");
    QTest::addColumn<QSize>("expected");
    QTest::newRow("jpeg larger than drawn") << QByteArray("JPEG") << QSize(1200, 1600) << QSize(128, 160)
                                            << QSize(128, 171);
    QTest::newRow("png larger than drawn") << QByteArray("PNG") << QSize(1000, 500) << QSize(400, 260)
                                           << QSize(520, 260);
    QTest::newRow("smaller than drawn: own size") << QByteArray("PNG") << QSize(100, 80) << QSize(400, 260)
                                                  << QSize(100, 80);
    QTest::newRow("no draw size: own size") << QByteArray("JPEG") << QSize(640, 480) << QSize() << QSize(640, 480);
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

QTEST_GUILESS_MAIN(PictureTest)
#include "tst_picture.moc"
