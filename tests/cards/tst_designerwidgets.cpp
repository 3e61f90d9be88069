// SPDX-License-Identifier: GPL-3.0-or-later
#include "cards/CardSurface.h"
#include "formats/graphics/Fonts.h"
#include "tests/support/TestFolder.h"
#include "widgets/Dialogs.h"
#include "widgets/ItemCanvas.h"

#include <QApplication>
#include <QCheckBox>
#include <QColorDialog>
#include <QDialogButtonBox>
#include <QFontDialog>
#include <QPainter>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <functional>

namespace {

QByteArray pngOf(const QColor& colour, QSize size = {40, 30})
{
    return pngBytes(size.width(), size.height(), colour);
}

QFont pixelFont(int pixels, const QString& family = QStringLiteral("黑体"))
{
    QFont font(family);
    font.setPixelSize(pixels);
    return font;
}

// The smallest rectangle holding every pixel of about this colour; empty when there is none.
QRect inkOf(const QImage& image, const QColor& colour)
{
    QRect ink;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            if (std::abs(pixel.red() - colour.red()) < 40 && std::abs(pixel.green() - colour.green()) < 40
                && std::abs(pixel.blue() - colour.blue()) < 40)
                ink |= QRect(x, y, 1, 1);
        }
    }
    return ink;
}

// Answers the next modal dialog once it is up.
void whenDialogOpens(const std::function<void(QDialog&)>& answer)
{
    QTimer::singleShot(0, [answer] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        answer(*dialog);
    });
}

QCheckBox* checkBox(QDialog& dialog, const QString& text)
{
    for (QCheckBox* box : dialog.findChildren<QCheckBox*>()) {
        if (box->text() == text)
            return box;
    }
    qFatal("the font dialog has no check box %s", qPrintable(text));
}

void press(QDialog& dialog, QDialogButtonBox::StandardButton which)
{
    dialog.findChild<QDialogButtonBox*>()->button(which)->click();
}

} // namespace

class DesignerWidgetsTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { installFontSubstitutes(); }

    void canvasItemsKeepWhatIsNotChanged();
    void brightnessMarkIsUndoneExactly();
    void pictureHoldsBackgroundAndItems_data();
    void pictureHoldsBackgroundAndItems();
    void canvasMouse_data();
    void canvasMouse();

    void surfaceDragsElementsWithinItself_data();
    void surfaceDragsElementsWithinItself();
    void labelIsAsLargeAsItsText();

    void shortMessagesHaveRoomForTheirTitle();
    void fontDialogCancelled();
    void fontDialogKeepsASubstitutedFaceName();
    void fontDialogSetsItalicAndColourOnAnyFace();
};

void DesignerWidgetsTest::canvasItemsKeepWhatIsNotChanged()
{
    ItemCanvas canvas;
    const int first = canvas.createItem("甲", pixelFont(20), Qt::red, {10, 20});
    const int second = canvas.createItem("乙", pixelFont(30), Qt::blue, {50, 60});
    QVERIFY(first > 0);
    QVERIFY(second != first);
    QCOMPARE(canvas.items(), QList<int>({first, second}));

    canvas.setTag(first, "黑体,15,真,假");
    canvas.setText(first, "丙");
    QCOMPARE(canvas.text(first), QString("丙"));
    QCOMPARE(canvas.colour(first), QColor(Qt::red));
    QCOMPARE(canvas.itemFont(first).pixelSize(), 20);
    QCOMPARE(canvas.tag(first), QString("黑体,15,真,假"));
    QCOMPARE(canvas.position(first), QPoint(10, 20));

    canvas.setText(first, "丁", pixelFont(40, "宋体"), Qt::green);
    QCOMPARE(canvas.itemFont(first).family(), QString("宋体"));
    QCOMPARE(canvas.colour(first), QColor(Qt::green));
    QCOMPARE(canvas.tag(first), QString("黑体,15,真,假"));

    canvas.deleteItem(first);
    QCOMPARE(canvas.items(), QList<int>({second}));
    QCOMPARE(canvas.text(first), QString());
    // A number is never given twice, so a deleted text cannot come back under another's.
    QVERIFY(canvas.createItem("戊", pixelFont(20), Qt::red, {0, 0}) > second);
}

void DesignerWidgetsTest::brightnessMarkIsUndoneExactly()
{
    ItemCanvas canvas;
    canvas.setBackground(pngOf(QColor(200, 220, 180)));
    const int id = canvas.createItem("青禾", pixelFont(40), QColor(30, 90, 200), {100, 100});
    canvas.show();
    const QImage plain = canvas.grab().toImage();

    canvas.adjustBrightness(id, -50);
    QCOMPARE(canvas.brightness(id), -50);
    const QImage marked = canvas.grab().toImage();
    QVERIFY(marked != plain);
    // The mark darkens: behind the text as well as the text itself.
    QVERIFY(qGray(marked.pixel(102, 102)) < qGray(plain.pixel(102, 102)));
    // The picture taken for the card never carries it.
    const QRect whole(QPoint(0, 0), ItemCanvas::canvasSize);
    const QImage picture = canvas.takePicture(whole);
    QCOMPARE(canvas.brightness(id), -50);

    canvas.adjustBrightness(id, +50);
    QCOMPARE(canvas.grab().toImage(), plain);
    QCOMPARE(canvas.takePicture(whole), picture);
}

void DesignerWidgetsTest::pictureHoldsBackgroundAndItems_data()
{
    QTest::addColumn<QByteArray>("background");
    QTest::addColumn<QColor>("shown");
    QTest::newRow("picture stretched over the canvas") << pngOf(Qt::yellow, {10, 10}) << QColor(Qt::yellow);
    QTest::newRow("no picture shows none") << QByteArray("not a picture") << QColor(Qt::white);
    QTest::newRow("empty shows none") << QByteArray() << QColor(Qt::white);
}

void DesignerWidgetsTest::pictureHoldsBackgroundAndItems()
{
    QFETCH(QByteArray, background);
    QFETCH(QColor, shown);
    ItemCanvas canvas;
    canvas.setBackground(pngOf(Qt::green));
    canvas.setBackground(background);
    canvas.createItem("学生证", pixelFont(40), Qt::blue, {150, 100});
    const QImage picture = canvas.takePicture(QRect(QPoint(0, 0), ItemCanvas::canvasSize));
    QCOMPARE(picture.size(), QSize(416, 264));
    QCOMPARE(picture.pixelColor(0, 0), shown);
    QCOMPARE(picture.pixelColor(415, 263), shown);
    const QRect ink = inkOf(picture, Qt::blue);
    QVERIFY2(QRect(150, 100, 140, 60).contains(ink) && ink.width() > 80,
             qPrintable(QString::number(ink.width())));
}

void DesignerWidgetsTest::canvasMouse_data()
{
    QTest::addColumn<QPoint>("pressAt");
    QTest::addColumn<QPoint>("releaseAt");
    QTest::addColumn<int>("clicks");
    QTest::addColumn<QPoint>("droppedAt"); // null: no drop
    // The text "学生证" in 40-pixel type lies at (150, 100).
    QTest::newRow("click") << QPoint(170, 120) << QPoint(170, 120) << 1 << QPoint();
    QTest::newRow("drag") << QPoint(170, 120) << QPoint(100, 40) << 0 << QPoint(80, 20);
    QTest::newRow("drag past the right edge")
        << QPoint(170, 120) << QPoint(900, 120) << 0 << QPoint(395, 100);
    QTest::newRow("drag past the top edge") << QPoint(170, 120) << QPoint(170, -70) << 0 << QPoint(150, -20);
    QTest::newRow("beside the text") << QPoint(20, 20) << QPoint(60, 60) << 0 << QPoint();
}

void DesignerWidgetsTest::canvasMouse()
{
    QFETCH(QPoint, pressAt);
    QFETCH(QPoint, releaseAt);
    QFETCH(int, clicks);
    QFETCH(QPoint, droppedAt);
    ItemCanvas canvas;
    const int id = canvas.createItem("学生证", pixelFont(40), Qt::blue, {150, 100});
    canvas.show();
    QVERIFY(QTest::qWaitForWindowExposed(&canvas));
    QSignalSpy clicked(&canvas, &ItemCanvas::itemClicked);
    QSignalSpy dropped(&canvas, &ItemCanvas::itemDropped);

    QTest::mousePress(canvas.viewport(), Qt::LeftButton, {}, pressAt);
    QTest::mouseMove(canvas.viewport(), (pressAt + releaseAt) / 2);
    QTest::mouseMove(canvas.viewport(), releaseAt);
    QTest::mouseRelease(canvas.viewport(), Qt::LeftButton, {}, releaseAt);

    QCOMPARE(clicked.size(), clicks);
    if (clicks)
        QCOMPARE(clicked[0][0].toInt(), id);
    QCOMPARE(dropped.size(), droppedAt.isNull() ? 0 : 1);
    if (!droppedAt.isNull()) {
        QCOMPARE(dropped[0][0].toPoint(), droppedAt);
        QCOMPARE(dropped[0][1].toInt(), id);
    }
}

void DesignerWidgetsTest::surfaceDragsElementsWithinItself_data()
{
    QTest::addColumn<QPoint>("by");
    QTest::addColumn<QPoint>("released");
    // The photo frame, 128 × 160 at (24, 80), is taken at (10, 10).
    QTest::newRow("moved") << QPoint(30, -20) << QPoint(54, 60);
    QTest::newRow("not moved") << QPoint(0, 0) << QPoint(24, 80);
    QTest::newRow("held at the right edge") << QPoint(1000, 0) << QPoint(407 - 10, 80);
    QTest::newRow("held at the top-left corner") << QPoint(-500, -500) << QPoint(-10, -10);
}

void DesignerWidgetsTest::surfaceDragsElementsWithinItself()
{
    QFETCH(QPoint, by);
    QFETCH(QPoint, released);
    CardSurface surface;
    surface.resize(408, 264);
    auto* photo = new QWidget(&surface);
    photo->setGeometry(24, 80, 128, 160);
    surface.addElement(CardElement::Photo, photo);
    surface.show();
    QVERIFY(QTest::qWaitForWindowExposed(&surface));
    QSignalSpy spy(&surface, &CardSurface::elementReleased);

    const QPoint grip(10, 10);
    QTest::mousePress(photo, Qt::LeftButton, {}, grip);
    QTest::mouseMove(photo, grip + by);
    QCOMPARE(spy.size(), 0);
    QTest::mouseRelease(photo, Qt::LeftButton, {}, grip);
    QCOMPARE(spy.size(), 1);
    QCOMPARE(spy[0][0].value<CardElement>(), CardElement::Photo);
    QCOMPARE(spy[0][1].toPoint(), released);
    QCOMPARE(photo->pos(), released);
}

void DesignerWidgetsTest::labelIsAsLargeAsItsText()
{
    CardTextLabel label;
    label.setText("七(1)班");
    const QSize regular = label.size();
    label.setStyle({"黑体", 24, false, false, Qt::black});
    const QSize larger = label.size();
    QVERIFY(larger.width() > regular.width() && larger.height() > regular.height());
    // The grab area covers the text as drawn: every stroke lies inside it.
    label.setStyle({"黑体", 24, true, true, Qt::red});
    QImage drawn(label.size() + QSize(40, 40), QImage::Format_RGB32);
    drawn.fill(Qt::white);
    label.render(&drawn);
    const QRect ink = inkOf(drawn, Qt::red);
    QVERIFY(!ink.isEmpty());
    QVERIFY2(label.rect().contains(ink),
             qPrintable(QStringLiteral("%1 × %2").arg(ink.right()).arg(ink.bottom())));
}

void DesignerWidgetsTest::fontDialogCancelled()
{
    DesktopDialogs dialogs;
    whenDialogOpens([](QDialog& dialog) {
        checkBox(dialog, "加粗")->click();
        press(dialog, QDialogButtonBox::Cancel);
    });
    QCOMPARE(dialogs.chooseFont(nullptr, {pixelFont(20), Qt::red}).has_value(), false);
}

void DesignerWidgetsTest::fontDialogKeepsASubstitutedFaceName()
{
    QFont given(QStringLiteral("宋体"));
    given.setPointSize(14);
    given.setBold(true);
    DesktopDialogs dialogs;
    whenDialogOpens([](QDialog& dialog) { press(dialog, QDialogButtonBox::Ok); });
    const auto choice = dialogs.chooseFont(nullptr, {given, QColor(0, 0, 255)});
    QVERIFY(choice);
    QCOMPARE(choice->font.family(), QString("宋体"));
    QCOMPARE(choice->font.pointSize(), 14);
    QCOMPARE(choice->font.bold(), true);
    QCOMPARE(choice->font.italic(), false);
    QCOMPARE(choice->color, QColor(0, 0, 255));
}

void DesignerWidgetsTest::fontDialogSetsItalicAndColourOnAnyFace()
{
    QFont given(QStringLiteral("黑体"));
    given.setPointSize(12);
    DesktopDialogs dialogs;
    whenDialogOpens([](QDialog& dialog) {
        checkBox(dialog, "倾斜")->click();
        // Choosing a size afterwards keeps the slant the face's style list does not offer.
        QFontDialog* fonts = dialog.findChild<QFontDialog*>();
        QFont larger = fonts->currentFont();
        larger.setPointSize(20);
        fonts->setCurrentFont(larger);
        whenDialogOpens([](QDialog& colours) {
            auto* picker = qobject_cast<QColorDialog*>(&colours);
            QVERIFY(picker);
            picker->setCurrentColor(QColor(200, 0, 0));
            picker->accept();
        });
        for (QPushButton* button : dialog.findChildren<QPushButton*>()) {
            if (button->text() == u"字体颜色…")
                button->click();
        }
        press(dialog, QDialogButtonBox::Ok);
    });
    const auto choice = dialogs.chooseFont(nullptr, {given, Qt::black});
    QVERIFY(choice);
    QCOMPARE(choice->font.italic(), true);
    QCOMPARE(choice->font.bold(), false);
    QCOMPARE(choice->font.pointSize(), 20);
    QCOMPARE(choice->color, QColor(200, 0, 0));
}

// A two-character text would make a box too narrow for its title, which the window manager
// would then cut.
void DesignerWidgetsTest::shortMessagesHaveRoomForTheirTitle()
{
    DesktopDialogs dialogs;
    for (const QString& title : {QString(), QString("证件设计 — 保存")}) {
        int width = 0;
        int titleWidth = 0;
        whenDialogOpens([&](QDialog& box) {
            QFont bold = box.font();
            bold.setBold(true);
            titleWidth = QFontMetrics(bold).horizontalAdvance(box.windowTitle());
            width = box.width();
            box.accept();
        });
        dialogs.message(nullptr, "好！", title, MessageIcon::Warning);
        QVERIFY2(width >= titleWidth + 100,
                 qPrintable(QString("%1 for a title of %2").arg(width).arg(titleWidth)));
    }
}

QTEST_MAIN(DesignerWidgetsTest)
#include "tst_designerwidgets.moc"
