// SPDX-License-Identifier: GPL-3.0-or-later
#include "formats/graphics/Fonts.h"
#include "formats/graphics/PdfFinisher.h"
#include "tests/cards/PdfReader.h"

#include <QBuffer>
#include <QFile>
#include <QGuiApplication>
#include <QImageWriter>
#include <QPainter>
#include <QPdfWriter>
#include <QTemporaryDir>
#include <QTest>

namespace {

QByteArray encoded(const QImage& image, const char* format, bool progressive = false)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setProgressiveScanWrite(progressive);
    writer.write(image);
    return bytes;
}

QImage filled(QSize size, const QColor& colour, QImage::Format format = QImage::Format_RGB32)
{
    QImage image(size, format);
    image.fill(colour);
    return image;
}

} // namespace

class PdfFinisherTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { installFontSubstitutes(); }
    void jpegFrame_data();
    void jpegFrame();
    void picturesGoInAsStoredOncePerPicture();
    void textReadsBackAsTyped();
    void refusesAFileItDoesNotKnow();

private:
    QTemporaryDir m_dir;
};

void PdfFinisherTest::jpegFrame_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("components");
    QTest::newRow("colour") << encoded(filled({90, 120}, Qt::red), "JPEG") << QSize(90, 120) << 3;
    QTest::newRow("progressive") << encoded(filled({33, 17}, Qt::red), "JPEG", true) << QSize(33, 17) << 3;
    QTest::newRow("grey") << encoded(filled({40, 30}, Qt::gray, QImage::Format_Grayscale8), "JPEG")
                          << QSize(40, 30) << 1;
    QTest::newRow("png") << encoded(filled({40, 30}, Qt::red), "PNG") << QSize() << 0;
    QTest::newRow("cut off") << encoded(filled({40, 30}, Qt::red), "JPEG").left(20) << QSize() << 0;
    QTest::newRow("nothing") << QByteArray() << QSize() << 0;
}

void PdfFinisherTest::jpegFrame()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QSize, size);
    QFETCH(int, components);
    const PdfFinisher::JpegFrame frame = PdfFinisher::jpegFrame(bytes);
    QCOMPARE(frame.components, components);
    if (components)
        QCOMPARE(QSize(frame.width, frame.height), size);
}

void PdfFinisherTest::picturesGoInAsStoredOncePerPicture()
{
    const QByteArray photo = encoded(filled({90, 120}, Qt::red), "JPEG");
    const QByteArray grey = encoded(filled({40, 30}, Qt::gray, QImage::Format_Grayscale8), "JPEG");
    const QString file = m_dir.filePath("pictures.pdf");
    PdfFinisher finisher;
    QVERIFY(finisher.standIn(encoded(filled({4, 4}, Qt::red), "PNG")).isNull()); // drawn from its pixels
    {
        QPdfWriter writer(file);
        QPainter painter(&writer);
        painter.setRenderHint(QPainter::LosslessImageRendering);
        for (int i = 0; i < 3; ++i)
            painter.drawImage(QRectF(i * 1000, 0, 900, 1200), finisher.standIn(photo));
        painter.drawImage(QRectF(0, 2000, 400, 300), finisher.standIn(grey));
    }
    QVERIFY(finisher.finish(file));
    QCOMPARE(pdf::jpegs(file), QList<QByteArray>({photo, grey}));
    const QList<pdf::Image> images = pdf::images(file);
    QCOMPARE(images.size(), 4);
    QCOMPARE(images[0].object, images[2].object);
    QCOMPARE(QSize(images[0].width, images[0].height), QSize(90, 120));
    QCOMPARE(images[3].encoding, QString("jpeg"));
    // Still a whole file: every reader of it finds the one page.
    QCOMPARE(pdf::pageCount(file), 1);
}

void PdfFinisherTest::textReadsBackAsTyped()
{
    // Each of these is also a Kangxi radical, which the face draws with the same glyph.
    // Some are Kangxi radicals too, some (黄, 马, 龙) supplementary radicals.
    const QString names = QStringLiteral("学生 王一金 方文 龍 黄金山 马龙");
    const QString file = m_dir.filePath("text.pdf");
    const QFont font(QStringLiteral("宋体"), 24);
    PdfFinisher finisher;
    finisher.noteFont(font);
    {
        QPdfWriter writer(file);
        QPainter painter(&writer);
        painter.setFont(font);
        painter.drawText(QPointF(200, 600), names);
    }
    QVERIFY(finisher.finish(file));
    QVERIFY2(pdf::text(file).contains(names), qPrintable(pdf::text(file)));
}

void PdfFinisherTest::refusesAFileItDoesNotKnow()
{
    const QString file = m_dir.filePath("other.pdf");
    QFile other(file);
    QVERIFY(other.open(QIODevice::WriteOnly));
    other.write("%PDF-1.7\nnot as Qt writes them\n");
    other.close();
    QString error;
    QVERIFY(!PdfFinisher().finish(file, &error));
    QVERIFY(!error.isEmpty());
    QVERIFY(!PdfFinisher().finish(m_dir.filePath("missing.pdf"), &error));
}

QTEST_MAIN(PdfFinisherTest)
#include "tst_pdffinisher.moc"
