// SPDX-License-Identifier: GPL-3.0-or-later
#include "archive/ProgramFolder.h"
#include "cards/CardDesignerWindow.h"
#include "cards/CardPreviewWindow.h"
#include "cards/CardSurface.h"
#include "cards/pages/CardComposer.h"
#include "formats/IniFile.h"
#include "formats/graphics/Fonts.h"
#include "formats/graphics/Picture.h"
#include "tests/support/Controls.h"
#include "tests/support/TestFolder.h"
#include "tests/support/TestServices.h"
#include "widgets/AdvancedGrid.h"
#include "widgets/ItemCanvas.h"

#include <QBuffer>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>

#include <memory>

namespace {

const QRect wholeCanvas(QPoint(0, 0), ItemCanvas::canvasSize);

QByteArray pngOf(const QColor& colour, QSize size = {104, 66})
{
    return pngBytes(size.width(), size.height(), colour);
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

bool near(const QColor& a, const QColor& b, int tolerance = 40)
{
    return std::abs(a.red() - b.red()) < tolerance && std::abs(a.green() - b.green()) < tolerance
           && std::abs(a.blue() - b.blue()) < tolerance;
}

// The smallest rectangle of the area holding pixels of about this colour; empty when none.
QRect inkOf(const QImage& image, const QColor& colour, const QRect& area)
{
    QRect ink;
    const QRect inside = area.intersected(image.rect());
    for (int y = inside.top(); y <= inside.bottom(); ++y) {
        for (int x = inside.left(); x <= inside.right(); ++x) {
            if (near(image.pixelColor(x, y), colour))
                ink |= QRect(x, y, 1, 1);
        }
    }
    return ink;
}

int countOf(const QImage& image, const QColor& colour, const QRect& area)
{
    int n = 0;
    const QRect inside = area.intersected(image.rect());
    for (int y = inside.top(); y <= inside.bottom(); ++y) {
        for (int x = inside.left(); x <= inside.right(); ++x)
            n += near(image.pixelColor(x, y), colour) ? 1 : 0;
    }
    return n;
}

// Pixels of red strokes, their edges and JPEG's blur around them included.
int reddish(const QImage& image, const QRect& area)
{
    int n = 0;
    const QRect inside = area.intersected(image.rect());
    for (int y = inside.top(); y <= inside.bottom(); ++y) {
        for (int x = inside.left(); x <= inside.right(); ++x) {
            const QColor c = image.pixelColor(x, y);
            n += c.red() - std::max(c.green(), c.blue()) > 60 ? 1 : 0;
        }
    }
    return n;
}

// The colour that covers most of the picture, as a stored background should.
bool coveredWith(const QImage& picture, const QColor& colour)
{
    return !picture.isNull()
           && countOf(picture, colour, picture.rect()) > picture.width() * picture.height() * 9 / 10;
}

// A background at print size of thin black lines across and down a white card, so any
// stretching of it shows as lines out of place.
QByteArray ruledBackground()
{
    const QSize size = CardLayout::backgroundPrintSize;
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    for (int y = 40; y < size.height(); y += 131)
        painter.fillRect(0, y, size.width(), 5, Qt::black);
    for (int x = 30; x < size.width(); x += 157)
        painter.fillRect(x, 0, 5, size.height(), Qt::black);
    painter.end();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

// The shift of `shown` against `printed` over `area` that makes them most alike, at most
// `reach` pixels either way; no shift wins a tie.
QPoint bestShift(const QImage& shown, const QImage& printed, const QRect& area, int reach)
{
    const auto difference = [&](QPoint by) {
        qint64 sum = 0;
        for (int y = area.top(); y <= area.bottom(); ++y) {
            for (int x = area.left(); x <= area.right(); ++x) {
                const QPoint at = QPoint(x, y) + by;
                const int seen = shown.rect().contains(at) ? qGray(shown.pixel(at)) : 255;
                sum += std::abs(seen - qGray(printed.pixel(x, y)));
            }
        }
        return sum;
    };
    QPoint best;
    qint64 least = difference(best);
    for (int dy = -reach; dy <= reach; ++dy) {
        for (int dx = -reach; dx <= reach; ++dx) {
            if (const qint64 d = difference({dx, dy}); d < least) {
                least = d;
                best = {dx, dy};
            }
        }
    }
    return best;
}

struct Element {
    const char* widget;
    const char* section;
};

} // namespace

class CardDesignerTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { installFontSubstitutes(); }
    void init();
    void cleanup();

    void windowAsDefined();
    void opensWithNeitherSettingsNorBackground();
    void opensOnTheStoredLayout();
    void draggedElementWrittenAtRelease_data();
    void draggedElementWrittenAtRelease();

    void refusalsWithoutASelectedText_data();
    void refusalsWithoutASelectedText();
    void newTextFromTheTemplate();
    void selectionMark();
    void deletedTextLeavesNoSelection();
    void editText();
    void textFont();
    void draggedTextMovesWithoutChangingTheSelection();
    void savedTextsArePartOfTheBackgroundOnReopening();

    void chosenBackground();
    void storedBackgroundFromThePicturesOwnPixels();
    void refusedBackgroundKeepsTheSchoolsBackground_data();
    void refusedBackgroundKeepsTheSchoolsBackground();
    void storedBackgroundThatCannotBeShownIsKept();
    void resetKeepsTextsAndShowsTheStoredBackground();
    void resetReplacesAChosenBackground_data();
    void resetReplacesAChosenBackground();

    void cancelledFontDialogRewritesTheSameValues_data();
    void cancelledFontDialogRewritesTheSameValues();
    void chosenClassStyleReachesThePreviewCard();
    void surfaceAgreesWithTheComposedCard();
    void surfaceShowsWhatPaperShows();
    void previewSavesFirstAndLeavesTheDesignerAsItWas();
    void failedSaveIsReported();
    void codePlacedAndSizedOnTheCard();

private:
    void open();
    void reopen();
    void click(const char* button) const { control<QPushButton>(*m_window, button)->click(); }
    ItemCanvas* canvas() const { return control<ItemCanvas>(*m_window, "动画框1"); }
    CardSurface* surface() const { return control<CardSurface>(*m_window, "图片框1"); }
    CardTextLabel* label(const char* name) const { return control<CardTextLabel>(*m_window, name); }
    QString stored(const QString& section, const QString& key) const
    {
        return IniFile::read(m_folder->settingsFile(), section, key, QStringLiteral("(absent)"));
    }
    QByteArray storedBackground() const;
    // Drags a widget of the card surface by `by`, taken at (5, 5).
    void drag(QWidget* element, QPoint by) const;
    void clickText(int id) const;
    void dragText(int id, QPoint by) const;
    int addText();

    std::unique_ptr<TestFolder> m_folder;
    std::unique_ptr<TestServices> m_services;
    std::unique_ptr<CardDesignerWindow> m_window;
};

void CardDesignerTest::init()
{
    m_folder = std::make_unique<TestFolder>();
    m_services = std::make_unique<TestServices>();
    m_services->context.appFolder = m_folder->path();
    m_services->navigator.setFactory([this](WindowKind kind) -> QWidget* {
        return kind == WindowKind::CardPreview ? new CardPreviewWindow(m_services->context) : nullptr;
    });
}

void CardDesignerTest::cleanup()
{
    for (const auto& opening : m_services->navigator.openings)
        delete opening.window.data();
    m_window.reset();
    m_services.reset();
    m_folder.reset();
}

void CardDesignerTest::open()
{
    m_window = std::make_unique<CardDesignerWindow>(m_services->context);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
}

void CardDesignerTest::reopen()
{
    m_window->close();
    open();
}

QByteArray CardDesignerTest::storedBackground() const
{
    QFile file(ProgramFolder::backgroundFile(m_folder->path()));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void CardDesignerTest::drag(QWidget* element, QPoint by) const
{
    const QPoint grip(5, 5);
    QTest::mousePress(element, Qt::LeftButton, {}, grip);
    QTest::mouseMove(element, grip + by);
    QTest::mouseRelease(element, Qt::LeftButton, {}, grip);
}

void CardDesignerTest::clickText(int id) const
{
    const QPoint at = canvas()->position(id) + QPoint(8, 10);
    QTest::mouseClick(canvas()->viewport(), Qt::LeftButton, {}, at);
}

void CardDesignerTest::dragText(int id, QPoint by) const
{
    const QPoint at = canvas()->position(id) + QPoint(8, 10);
    QTest::mousePress(canvas()->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseMove(canvas()->viewport(), at + by / 2);
    QTest::mouseMove(canvas()->viewport(), at + by);
    QTest::mouseRelease(canvas()->viewport(), Qt::LeftButton, {}, at + by);
}

int CardDesignerTest::addText()
{
    click("按钮7");
    const QList<int> items = canvas()->items();
    return items.isEmpty() ? 0 : items.last();
}

void CardDesignerTest::windowAsDefined()
{
    open();
    QCOMPARE(m_window->windowTitle(), QString("证件设计"));
    QCOMPARE(m_window->size(), QSize(1010, 454));
    QCOMPARE(control<QGroupBox>(*m_window, "分组框2")->title(), QString("固定数据"));
    QCOMPARE(control<QGroupBox>(*m_window, "分组框1")->title(), QString("动态数据"));
    QCOMPARE(canvas()->geometry(), QRect(40, 24, 416, 264));
    QCOMPARE(canvas()->parentWidget()->objectName(), QString("分组框2"));
    QCOMPARE(canvas()->viewport()->size(), QSize(416, 264));
    QCOMPARE(surface()->geometry(), QRect(24, 24, 408, 264));
    QCOMPARE(surface()->parentWidget()->objectName(), QString("分组框1"));
    QCOMPARE(control<QLabel>(*m_window, "图片框2")->parentWidget(), surface());
    QCOMPARE(control<QLabel>(*m_window, "图片框2")->size(), QSize(128, 160));
    QCOMPARE(label("透明标签1")->text().size(), 3);
    QCOMPARE(label("透明标签2")->text(), QString("七(1)班"));
    QCOMPARE(label("透明标签3")->text(), QString("000000"));
    QVERIFY(!control<QLabel>(*m_window, "动画物体1")->isVisible());

    const QList<std::tuple<const char*, QString, QRect>> buttons{
        {"按钮7", "添加文字", {88, 304, 80, 24}},  {"按钮10", "字体设置", {188, 304, 72, 24}},
        {"按钮9", "编辑文字", {280, 304, 80, 24}}, {"按钮5", "背景图片", {120, 344, 80, 25}},
        {"按钮8", "删除文字", {240, 344, 80, 24}}, {"按钮2", "姓名设置", {72, 299, 96, 24}},
        {"按钮3", "单位设置", {200, 299, 96, 24}}, {"按钮4", "编号设置", {328, 298, 96, 24}},
        {"按钮1", "重置", {128, 339, 96, 24}},     {"按钮6", "预览打印", {262, 337, 96, 24}}};
    for (const auto& [name, caption, geometry] : buttons) {
        const QPushButton* button = control<QPushButton>(*m_window, name);
        QCOMPARE(button->text(), caption);
        QCOMPARE(button->geometry(), geometry);
    }
}

void CardDesignerTest::opensWithNeitherSettingsNorBackground()
{
    open();
    QCOMPARE(control<QLabel>(*m_window, "图片框2")->pos(), QPoint(16, 80));
    QCOMPARE(label("透明标签1")->pos(), QPoint(264, 105));
    QCOMPARE(label("透明标签2")->pos(), QPoint(268, 148));
    QCOMPARE(label("透明标签3")->pos(), QPoint(248, 187));
    for (const char* name : {"透明标签1", "透明标签2", "透明标签3"})
        QCOMPARE(label(name)->style(), TextStyle());
    QVERIFY(canvas()->items().isEmpty());
    // The built-in picture on both panes: its green title band at the top, its pale body below.
    const QImage builtIn = CardLayout().backgroundPicture(surface()->size());
    const QColor band = builtIn.pixelColor(builtIn.width() / 2, 10);
    QVERIFY(near(surface()->picture().pixelColor(200, 10), band, 12));
    QVERIFY(near(canvas()->takePicture(wholeCanvas).pixelColor(200, 10), band, 12));

    m_window->close();
    QCOMPARE(storedBackground(), CardLayout::builtInBackground());
    const QList<std::tuple<QString, QString, QString>> positions{{"sys", "16", "80"},
                                                                 {"姓名设置", "264", "105"},
                                                                 {"班级设置", "268", "148"},
                                                                 {"编号设置", "248", "187"}};
    for (const auto& [section, left, top] : positions) {
        QCOMPARE(stored(section, "左边"), left);
        QCOMPARE(stored(section, "顶边"), top);
    }
    // Styles are written when they are chosen, never on closing.
    QCOMPARE(stored("姓名设置", "字体名称"), QString("(absent)"));
}

void CardDesignerTest::opensOnTheStoredLayout()
{
    const QString ini = m_folder->settingsFile();
    IniFile::write(ini, u"sys", {{"左边", "30"}, {"顶边", "-20"}});
    IniFile::write(ini, u"班级设置",
                   {{"左边", "12.9"},
                    {"顶边", "abc"},
                    {"字体名称", "黑体"},
                    {"加粗", "真"},
                    {"倾斜", "1"},
                    {"字体大小", "20"},
                    {"字体颜色", "255"}});
    writeFile(ProgramFolder::backgroundFile(m_folder->path()), pngOf(Qt::blue));
    open();
    QCOMPARE(control<QLabel>(*m_window, "图片框2")->pos(), QPoint(30, -20));
    QCOMPARE(label("透明标签2")->pos(), QPoint(12, 0));
    QCOMPARE(label("透明标签2")->style(), TextStyle({"黑体", 20, true, false, Qt::red}));
    QCOMPARE(label("透明标签1")->pos(), QPoint(264, 105));
    QVERIFY(coveredWith(surface()->picture(), Qt::blue));
    QVERIFY(coveredWith(canvas()->takePicture(wholeCanvas), Qt::blue));
}

void CardDesignerTest::draggedElementWrittenAtRelease_data()
{
    QTest::addColumn<QString>("widget");
    QTest::addColumn<QString>("section");
    QTest::addColumn<QPoint>("by");
    QTest::addColumn<QString>("left");
    QTest::addColumn<QString>("top");
    QTest::newRow("photo") << "图片框2"
                           << "sys" << QPoint(40, -30) << "56"
                           << "50";
    QTest::newRow("name") << "透明标签1"
                          << "姓名设置" << QPoint(-100, 20) << "164"
                          << "125";
    QTest::newRow("class") << "透明标签2"
                           << "班级设置" << QPoint(3, 4) << "271"
                           << "152";
    QTest::newRow("number") << "透明标签3"
                            << "编号设置" << QPoint(-50, 50) << "198"
                            << "237";
    QTest::newRow("pressed, not moved") << "透明标签1"
                                        << "姓名设置" << QPoint(0, 0) << "264"
                                        << "105";
    // The grip stays on the surface, 408 pixels wide; the label was taken 5 pixels in.
    QTest::newRow("past the right edge") << "透明标签3"
                                         << "编号设置" << QPoint(500, 0) << "402"
                                         << "187";
}

void CardDesignerTest::draggedElementWrittenAtRelease()
{
    QFETCH(QString, widget);
    QFETCH(QString, section);
    QFETCH(QPoint, by);
    QFETCH(QString, left);
    QFETCH(QString, top);
    open();
    drag(control<QWidget>(*m_window, widget.toUtf8().constData()), by);
    // Written at once: the window is still open.
    QCOMPARE(stored(section, "左边"), left);
    QCOMPARE(stored(section, "顶边"), top);
    for (const QString other : {"sys", "姓名设置", "班级设置", "编号设置"}) {
        if (other != section)
            QCOMPARE(stored(other, "左边"), QString("(absent)"));
    }
    QVERIFY(m_services->dialogs.shown.isEmpty());
}

void CardDesignerTest::refusalsWithoutASelectedText_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("message");
    QTest::newRow("编辑文字") << "按钮9"
                              << "请选择需要编辑的文字！";
    QTest::newRow("删除文字") << "按钮8"
                              << "请选择需要删除的文字！";
    QTest::newRow("字体设置") << "按钮10"
                              << "请选择需要编辑的文字";
}

void CardDesignerTest::refusalsWithoutASelectedText()
{
    QFETCH(QString, button);
    QFETCH(QString, message);
    open();
    const int id = addText(); // on the canvas, but not selected
    click(button.toUtf8().constData());
    QCOMPARE(m_services->dialogs.shown.size(), 1);
    QCOMPARE(m_services->dialogs.last().kind, QString("message"));
    QCOMPARE(m_services->dialogs.last().text, message);
    QCOMPARE(m_services->dialogs.last().title, QString());
    QCOMPARE(canvas()->items(), QList<int>({id}));
    QCOMPARE(canvas()->text(id), QString("添加标题"));
}

void CardDesignerTest::newTextFromTheTemplate()
{
    open();
    const QImage before = surface()->picture();
    const QImage empty = canvas()->takePicture(wholeCanvas);
    const int id = addText();
    QVERIFY(id > 0);
    QCOMPARE(canvas()->text(id), QString("添加标题"));
    QCOMPARE(canvas()->tag(id), QString("微软雅黑,16,假,假"));
    QCOMPARE(canvas()->itemFont(id).family(), QString("微软雅黑"));
    QCOMPARE(canvas()->itemFont(id).pixelSize(), 21);
    QCOMPARE(canvas()->itemFont(id).bold(), false);
    QCOMPARE(canvas()->brightness(id), 0);
    // The surface now shows the canvas picture, the new text in it.
    QVERIFY(surface()->picture() != before);
    QVERIFY(countOf(surface()->picture(), Qt::black, surface()->rect()) > 20);

    // Each new text covers nothing: no caption or frame of the built-in picture, no element
    // of the card (the canvas is stretched over the card), no text added before it.
    const int second = addText();
    QCOMPARE(canvas()->items(), QList<int>({id, second}));
    const QRect first = canvas()->bounds(id);
    const QRect next = canvas()->bounds(second);
    QVERIFY(!first.intersects(next));
    const auto onCanvas = [](const QRect& r) {
        return QRectF(r.x() * 416 / 400.0, r.y() * 264 / 260.0, r.width() * 416 / 400.0,
                      r.height() * 264 / 260.0)
            .toAlignedRect();
    };
    for (const QRect& text : {first, next}) {
        QVERIFY(wholeCanvas.contains(text));
        int ink = 0;
        for (int y = text.top(); y <= text.bottom(); ++y) {
            for (int x = text.left(); x <= text.right(); ++x)
                ink += qGray(empty.pixel(x, y)) < 160 ? 1 : 0;
        }
        QCOMPARE(ink, 0);
        for (const char* element : {"图片框2", "透明标签1", "透明标签2", "透明标签3"}) {
            const QRect covered = onCanvas(control<QWidget>(*m_window, element)->geometry());
            QVERIFY2(!text.intersects(covered), element);
        }
    }
}

void CardDesignerTest::selectionMark()
{
    open();
    const int first = addText();
    const int second = addText();
    dragText(second, {-150, -80});
    clickText(first);
    QCOMPARE(canvas()->brightness(first), -50);
    clickText(second);
    QCOMPARE(canvas()->brightness(first), 0);
    QCOMPARE(canvas()->brightness(second), -50);
    clickText(second);
    QCOMPARE(canvas()->brightness(second), -50);
    // Adding a text ends the selection; the new text is not selected either.
    const int third = addText();
    QCOMPARE(canvas()->brightness(second), 0);
    QCOMPARE(canvas()->brightness(third), 0);
    click("按钮9");
    QCOMPARE(m_services->dialogs.messages(), QStringList({"请选择需要编辑的文字！"}));
}

void CardDesignerTest::deletedTextLeavesNoSelection()
{
    open();
    const int kept = addText();
    dragText(kept, {-150, -80});
    const int id = addText();
    clickText(id);
    click("按钮8");
    QCOMPARE(canvas()->items(), QList<int>({kept}));
    QCOMPARE(canvas()->brightness(kept), 0);
    click("按钮10");
    click("按钮9");
    click("按钮8");
    QCOMPARE(m_services->dialogs.messages(),
             QStringList({"请选择需要编辑的文字", "请选择需要编辑的文字！", "请选择需要删除的文字！"}));
    QCOMPARE(canvas()->items(), QList<int>({kept}));
}

void CardDesignerTest::editText()
{
    open();
    const int id = addText();
    const QFont font = canvas()->itemFont(id);
    clickText(id);
    m_services->dialogs.textAnswers.enqueue(QString("XX市第一中学 学生证"));
    click("按钮9");
    const ShownDialog asked = m_services->dialogs.last();
    QCOMPARE(asked.kind, QString("input"));
    QCOMPARE(asked.text, QString("请输入要编辑文字"));
    QCOMPARE(asked.title, QString());
    QCOMPARE(asked.initial, QString("添加标题"));
    QCOMPARE(canvas()->text(id), QString("XX市第一中学 学生证"));
    QCOMPARE(canvas()->itemFont(id), font);
    QCOMPARE(canvas()->brightness(id), -50);

    m_services->dialogs.textAnswers.enqueue(std::nullopt);
    click("按钮9");
    QCOMPARE(m_services->dialogs.last().initial, QString("XX市第一中学 学生证"));
    QCOMPARE(canvas()->text(id), QString("XX市第一中学 学生证"));

    m_services->dialogs.textAnswers.enqueue(QString());
    click("按钮9");
    QCOMPARE(canvas()->text(id), QString());
    QCOMPARE(canvas()->items(), QList<int>({id}));
}

void CardDesignerTest::textFont()
{
    open();
    const int id = addText();
    clickText(id);
    canvas()->setText(id, "学生证", canvas()->itemFont(id), QColor(0, 0, 200));
    canvas()->setTag(id, "宋体,18.7,真,1");

    QFont chosen("黑体");
    chosen.setPointSize(24);
    chosen.setBold(true);
    chosen.setUnderline(true);
    m_services->dialogs.fontAnswers.enqueue(FontChoice{chosen, Qt::red});
    click("按钮10");
    // Opened on the tag's font and the text's colour.
    const FontChoice offered = m_services->dialogs.fontsOffered.last();
    QCOMPARE(offered.font.family(), QString("宋体"));
    QCOMPARE(offered.font.pointSize(), 18);
    QCOMPARE(offered.font.bold(), true);
    QCOMPARE(offered.font.italic(), false);
    QCOMPARE(offered.color, QColor(0, 0, 200));

    const QFont font = canvas()->itemFont(id);
    QCOMPARE(font.family(), QString("黑体"));
    QCOMPARE(font.pixelSize(), 32);
    QCOMPARE(font.bold(), true);
    QCOMPARE(font.underline(), false); // underline is the canvas's own, not the dialog's
    QCOMPARE(canvas()->colour(id), QColor(Qt::red));
    QCOMPARE(canvas()->text(id), QString("学生证"));
    QCOMPARE(canvas()->tag(id), QString("黑体,24,真,假"));
    QVERIFY(countOf(surface()->picture(), Qt::red, surface()->rect()) > 100);

    // Cancelled: the same font again.
    click("按钮10");
    QCOMPARE(canvas()->itemFont(id), font);
    QCOMPARE(canvas()->colour(id), QColor(Qt::red));
    QCOMPARE(canvas()->tag(id), QString("黑体,24,真,假"));
}

void CardDesignerTest::draggedTextMovesWithoutChangingTheSelection()
{
    open();
    const int selected = addText();
    const int moved = addText();
    const QPoint placed = canvas()->position(selected);
    canvas()->moveItem(moved, {200, 100});
    dragText(moved, {-150, -80});
    QCOMPARE(canvas()->position(moved), QPoint(50, 20));
    clickText(selected);
    const QImage before = surface()->picture();
    dragText(moved, {30, 60});
    QCOMPARE(canvas()->position(moved), QPoint(80, 80));
    QCOMPARE(canvas()->position(selected), placed);
    QCOMPARE(canvas()->brightness(selected), -50);
    QCOMPARE(canvas()->brightness(moved), 0);
    QVERIFY(surface()->picture() != before);
}

void CardDesignerTest::savedTextsArePartOfTheBackgroundOnReopening()
{
    open();
    const int id = addText();
    clickText(id);
    QFont big("黑体");
    big.setPointSize(30);
    m_services->dialogs.fontAnswers.enqueue(FontChoice{big, Qt::red});
    click("按钮10");
    dragText(id, {-150, -80}); // to (50, 20)
    m_window->close();

    const QImage stored = Picture::decode(storedBackground());
    // At least 300 pixels per inch on the largest card a sheet prints: 400 × 260 grid pixels,
    // 4.17 × 2.71 inches.
    QVERIFY2(stored.width() >= 1250 && stored.height() >= 813,
             qPrintable(QString("%1 × %2").arg(stored.width()).arg(stored.height())));
    const double sx = stored.width() / 416.0;
    const double sy = stored.height() / 264.0;
    const QRect text(50, 20, 180, 50);
    const QRect storedText = QRectF(50 * sx, 20 * sy, 180 * sx, 50 * sy).toRect();
    QVERIFY(countOf(stored, Qt::red, storedText) > 200 * sx * sy);
    // Stored as selected, yet without the mark of the selection.
    QCOMPARE(countOf(stored, Qt::red, storedText),
             countOf(canvas()->takePicture(wholeCanvas, stored.size()), Qt::red, storedText));

    open();
    QVERIFY(canvas()->items().isEmpty());
    QVERIFY(countOf(canvas()->takePicture(wholeCanvas), Qt::red, text) > 200);
    QTest::mouseClick(canvas()->viewport(), Qt::LeftButton, {}, {70, 35});
    click("按钮8");
    QCOMPARE(m_services->dialogs.messages().last(), QString("请选择需要删除的文字！"));
}

// A school's artwork with fine lines, chosen on the canvas: the stored background is drawn
// from the artwork itself, so lines one pixel apart at print size stay apart rather than
// coming out as the grey of a picture enlarged from the canvas.
void CardDesignerTest::storedBackgroundFromThePicturesOwnPixels()
{
    QImage artwork(CardLayout::backgroundPrintSize, QImage::Format_RGB32);
    for (int x = 0; x < artwork.width(); ++x) {
        for (int y = 0; y < artwork.height(); ++y)
            artwork.setPixel(x, y, (x / 2) % 2 == 0 ? qRgb(0, 0, 0) : qRgb(255, 255, 255));
    }
    const QString file = QDir(m_folder->path()).filePath("学校.png");
    QVERIFY(artwork.save(file, "PNG"));
    open();
    m_services->dialogs.pathAnswers.enqueue(file);
    click("按钮5");
    addText();
    m_window->close();

    const QImage stored = Picture::decode(storedBackground());
    QCOMPARE(stored.size(), CardLayout::backgroundPrintSize);
    // Away from the new text, the lines are as they were drawn.
    int sharp = 0;
    for (int x = 0; x + 2 < 200; x += 4) {
        const int y = stored.height() - 40;
        sharp += qGray(stored.pixel(x, y)) < 60 && qGray(stored.pixel(x + 2, y)) > 195 ? 1 : 0;
    }
    QVERIFY2(sharp >= 45, qPrintable(QString::number(sharp)));
}

void CardDesignerTest::chosenBackground()
{
    const QString file = QDir(m_folder->path()).filePath("学校.png");
    writeFile(file, pngOf(Qt::green));
    open();
    const int id = addText();
    m_services->dialogs.pathAnswers.enqueue(file);
    click("按钮5");
    const ShownDialog asked = m_services->dialogs.last();
    QCOMPARE(asked.kind, QString("openFile"));
    QCOMPARE(asked.title, QString("请选择要打开的图片"));
    QVERIFY(asked.text.startsWith("图片文件"));
    for (const char* pattern : {"*.bmp", "*.jpg", "*.png", "*.gif"})
        QVERIFY2(asked.text.contains(pattern), pattern);
    // The texts stay over the new picture, which the card surface shows at once.
    QCOMPARE(canvas()->items(), QList<int>({id}));
    QVERIFY(coveredWith(canvas()->takePicture(wholeCanvas), Qt::green));
    QVERIFY(coveredWith(surface()->picture(), Qt::green));
    // Only the canvas picture reaches the card, and only on saving.
    QVERIFY(!QFile::exists(ProgramFolder::backgroundFile(m_folder->path())));
    m_window->close();
    QVERIFY(coveredWith(Picture::decode(storedBackground()), Qt::green));
}

void CardDesignerTest::refusedBackgroundKeepsTheSchoolsBackground_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("reason");
    QTest::newRow("no such file") << "gone.jpg" << QByteArray() << "无法读取“gone.jpg”";
    QTest::newRow("no picture") << "broken.png" << QByteArray("PK\x03\x04 not a picture") << "不是图片文件";
    QTest::newRow("too large to decode") << "huge.png" << pngPromising(20000, 20000) << "图片太大";
}

void CardDesignerTest::refusedBackgroundKeepsTheSchoolsBackground()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, reason);
    const QByteArray school = pngOf(Qt::blue);
    writeFile(ProgramFolder::backgroundFile(m_folder->path()), school);
    const QString file = QDir(m_folder->path()).filePath(name);
    if (!bytes.isEmpty())
        writeFile(file, bytes);
    open();
    const QImage shown = surface()->picture();
    click("按钮5"); // cancelled
    QCOMPARE(surface()->picture(), shown);

    m_services->dialogs.pathAnswers.enqueue(file);
    click("按钮5");
    const QString message = m_services->dialogs.messages().value(0);
    QVERIFY2(message.startsWith(reason), qPrintable(message));
    QVERIFY(coveredWith(canvas()->takePicture(wholeCanvas), Qt::blue));
    QVERIFY(coveredWith(surface()->picture(), Qt::blue));
    m_window->close();
    QCOMPARE(storedBackground(), school);
}

void CardDesignerTest::storedBackgroundThatCannotBeShownIsKept()
{
    const QByteArray stored = pngPromising(20000, 20000);
    writeFile(ProgramFolder::backgroundFile(m_folder->path()), stored);
    open();
    m_window->close();
    QCOMPARE(storedBackground(), stored);
    // Designing the card again replaces it with what the canvas shows.
    open();
    addText();
    m_window->close();
    QVERIFY(!Picture::decode(storedBackground()).isNull());
}

void CardDesignerTest::resetKeepsTextsAndShowsTheStoredBackground()
{
    writeFile(ProgramFolder::backgroundFile(m_folder->path()), pngOf(Qt::blue));
    IniFile::write(m_folder->settingsFile(), u"姓名设置", {{"左边", "100"}, {"顶边", "50"}});
    open();
    const int id = addText();
    clickText(id);
    QVERIFY(countOf(surface()->picture(), Qt::black, surface()->rect()) > 50);
    label("透明标签1")->move(5, 5); // as if dragged, but not written

    click("按钮1");
    QCOMPARE(canvas()->items(), QList<int>({id}));
    QCOMPARE(canvas()->brightness(id), 0); // no longer selected
    QCOMPARE(countOf(surface()->picture(), Qt::black, surface()->rect()), 0);
    QVERIFY(coveredWith(surface()->picture(), Qt::blue));
    QCOMPARE(label("透明标签1")->pos(), QPoint(100, 50));
    // The next change on the canvas brings the texts back onto the surface.
    dragText(id, {10, 10});
    QVERIFY(countOf(surface()->picture(), Qt::black, surface()->rect()) > 50);
}

void CardDesignerTest::resetReplacesAChosenBackground_data()
{
    QTest::addColumn<bool>("stored");
    QTest::newRow("background file") << true;
    QTest::newRow("no background file") << false;
}

void CardDesignerTest::resetReplacesAChosenBackground()
{
    QFETCH(bool, stored);
    if (stored)
        writeFile(ProgramFolder::backgroundFile(m_folder->path()), pngOf(Qt::blue));
    const QString file = QDir(m_folder->path()).filePath("chosen.png");
    writeFile(file, pngOf(Qt::green));
    open();
    m_services->dialogs.pathAnswers.enqueue(file);
    click("按钮5");
    click("按钮1");
    const QColor shown = stored ? QColor(Qt::blue) : QColor(Qt::green);
    QVERIFY(coveredWith(canvas()->takePicture(wholeCanvas), shown));
    QVERIFY(coveredWith(surface()->picture(), shown));
}

void CardDesignerTest::cancelledFontDialogRewritesTheSameValues_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("label");
    QTest::addColumn<bool>("storedBefore");
    QTest::newRow("姓名设置, nothing stored") << "按钮2"
                                              << "姓名设置"
                                              << "透明标签1" << false;
    QTest::newRow("单位设置, nothing stored") << "按钮3"
                                              << "班级设置"
                                              << "透明标签2" << false;
    QTest::newRow("编号设置, nothing stored") << "按钮4"
                                              << "编号设置"
                                              << "透明标签3" << false;
    QTest::newRow("单位设置, a stored style") << "按钮3"
                                              << "班级设置"
                                              << "透明标签2" << true;
}

void CardDesignerTest::cancelledFontDialogRewritesTheSameValues()
{
    QFETCH(QString, button);
    QFETCH(QString, section);
    QFETCH(QString, label);
    QFETCH(bool, storedBefore);
    const QString ini = m_folder->settingsFile();
    if (storedBefore)
        IniFile::write(ini, section,
                       {{"字体名称", "宋体"},
                        {"加粗", "真"},
                        {"倾斜", "假"},
                        {"字体大小", "14"},
                        {"字体颜色", "65280"}});
    open();
    const TextStyle before = this->label(label.toUtf8().constData())->style();
    click(button.toUtf8().constData());
    QCOMPARE(m_services->dialogs.last().kind, QString("chooseFont"));
    // Opened on the label's own style.
    const FontChoice offered = m_services->dialogs.fontsOffered.last();
    QCOMPARE(offered.font.bold(), before.bold);
    QCOMPARE(offered.color, before.colour);
    QCOMPARE(this->label(label.toUtf8().constData())->style(), before);
    const QStringList expected = storedBefore ? QStringList({"宋体", "真", "假", "14", "65280"})
                                              : QStringList({"", "假", "假", "0", "0"});
    QCOMPARE(QStringList({stored(section, "字体名称"), stored(section, "加粗"), stored(section, "倾斜"),
                          stored(section, "字体大小"), stored(section, "字体颜色")}),
             expected);
}

void CardDesignerTest::chosenClassStyleReachesThePreviewCard()
{
    m_folder->addStudents({{"李四", "七(1)班", "2014001", jpegBytes(60, 75)}});
    m_services->context.classList = {"七(1)班"};
    writeFile(ProgramFolder::backgroundFile(m_folder->path()), pngOf(Qt::white));
    open();
    QFont font("黑体");
    font.setPointSize(20);
    font.setBold(true);
    m_services->dialogs.fontAnswers.enqueue(FontChoice{font, Qt::red});
    click("按钮3");
    QCOMPARE(stored("班级设置", "字体颜色"), QString("255"));
    QCOMPARE(stored("班级设置", "加粗"), QString("真"));
    const QPoint place = label("透明标签2")->pos();

    click("按钮6");
    QCOMPARE(m_services->navigator.openings.size(), 1);
    QCOMPARE(m_services->navigator.openings[0].className, QString("CardPreviewWindow"));
    QVERIFY(m_services->navigator.openings[0].modal);
    const auto* grid = m_services->navigator.openings[0].window->findChild<AdvancedGrid*>("高级表格1");
    const QImage card = QImage::fromData(grid->getCell(0, 1).picture);
    QCOMPARE(card.size(), QSize(400, 260));
    const QRect at(place - QPoint(2, 2), QSize(140, 44));
    const int red = reddish(card, at);
    QVERIFY2(red > 150, qPrintable(QString::number(red)));
    QVERIFY(reddish(card, card.rect()) - red < 10); // nothing red anywhere else
    // Bolder than the same text in the regular weight.
    CardLayout regular = CardLayout::load(m_folder->path());
    regular.className.style.bold = false;
    const QImage thin = CardComposer(regular).compose({"李四", "七(1)班", "2014001", {}});
    const int thinRed = reddish(thin, at);
    QVERIFY2(red > thinRed * 11 / 10, qPrintable(QStringLiteral("%1 against %2").arg(red).arg(thinRed)));
}

void CardDesignerTest::surfaceAgreesWithTheComposedCard()
{
    writeFile(ProgramFolder::backgroundFile(m_folder->path()), pngOf(Qt::white));
    IniFile::write(
        m_folder->settingsFile(), u"姓名设置",
        {{"左边", "201"}, {"顶边", "33"}, {"字体名称", "黑体"}, {"字体大小", "22"}, {"字体颜色", "255"}});
    IniFile::write(m_folder->settingsFile(), u"编号设置",
                   {{"左边", "170"},
                    {"顶边", "200"},
                    {"字体名称", "宋体"},
                    {"加粗", "真"},
                    {"字体大小", "15"},
                    {"字体颜色", "16711680"}});
    open();
    drag(label("透明标签1"), {-11, 7}); // to (190, 40)
    QCOMPARE(label("透明标签1")->pos(), QPoint(190, 40));

    const QImage shown = surface()->grab().toImage();
    const QImage card =
        CardComposer(CardLayout::load(m_folder->path()))
            .compose(
                {label("透明标签1")->text(), label("透明标签2")->text(), label("透明标签3")->text(), {}});
    const QRect right(160, 0, 240, 260); // clear of the photo
    for (const QColor& colour : {QColor(Qt::red), QColor(Qt::blue)}) {
        const QRect onSurface = inkOf(shown, colour, right);
        const QRect onCard = inkOf(card, colour, right);
        QVERIFY(!onCard.isEmpty());
        QVERIFY2((onSurface.topLeft() - onCard.topLeft()).manhattanLength() <= 1,
                 qPrintable(QStringLiteral("surface (%1, %2), card (%3, %4)")
                                .arg(onSurface.left())
                                .arg(onSurface.top())
                                .arg(onCard.left())
                                .arg(onCard.top())));
        QVERIFY(std::abs(onSurface.width() - onCard.width()) <= 1);
    }
}

// Every part of the card, the lines of its background included, lies on the designer's
// surface where it lies on the composed card, from the top-left corner to the bottom-right.
void CardDesignerTest::surfaceShowsWhatPaperShows()
{
    writeFile(ProgramFolder::backgroundFile(m_folder->path()), ruledBackground());
    IniFile::write(m_folder->settingsFile(), u"姓名设置", {{"左边", "300"}, {"顶边", "20"}});
    IniFile::write(m_folder->settingsFile(), u"编号设置", {{"左边", "250"}, {"顶边", "228"}});
    IniFile::write(m_folder->settingsFile(), u"条码设置",
                   {{"类型", "QR"}, {"左边", "180"}, {"顶边", "190"}, {"宽度", "64"}, {"高度", "64"}});
    open();
    QFile sample(":/images/sample-photo.jpg");
    QVERIFY(sample.open(QIODevice::ReadOnly));
    const QImage printed = CardComposer(CardLayout::load(m_folder->path()))
                               .compose({label("透明标签1")->text(), label("透明标签2")->text(),
                                         CardBarcodeLabel::sampleNumber, sample.readAll()});
    const QImage shown = surface()->grab().toImage().scaled(surface()->size());
    // Tiles over the whole card, each with lines, and some with texts, the photo or the code.
    for (int top = 0; top < 260; top += 65) {
        for (int left = 0; left < 400; left += 80) {
            const QRect tile(left, top, 80, 65);
            const QPoint shift = bestShift(shown, printed, tile, 8);
            QVERIFY2(std::abs(shift.x()) <= 1 && std::abs(shift.y()) <= 1,
                     qPrintable(QStringLiteral("tile at (%1, %2) shifted by (%3, %4)")
                                    .arg(left)
                                    .arg(top)
                                    .arg(shift.x())
                                    .arg(shift.y())));
        }
    }
}

void CardDesignerTest::previewSavesFirstAndLeavesTheDesignerAsItWas()
{
    open();
    const int id = addText();
    clickText(id);
    control<QLabel>(*m_window, "图片框2")->move(40, 60); // as if dragged, not yet written
    click("按钮6");
    QCOMPARE(stored("sys", "左边"), QString("40"));
    QCOMPARE(stored("sys", "顶边"), QString("60"));
    QCOMPARE(stored("编号设置", "左边"), QString("248"));
    QCOMPARE(Picture::decode(storedBackground()).size(), CardLayout::backgroundPrintSize);
    QCOMPARE(m_services->navigator.openings.size(), 1);
    QVERIFY(m_services->navigator.openings[0].modal);
    QCOMPARE(m_services->navigator.openings[0].window->windowHandle()->transientParent(),
             m_window->windowHandle());

    QVERIFY(m_window->isVisible());
    QCOMPARE(canvas()->items(), QList<int>({id}));
    QCOMPARE(canvas()->brightness(id), -50);
}

void CardDesignerTest::failedSaveIsReported()
{
    // A folder where the picture should go cannot be replaced by a file.
    const QString blocked = ProgramFolder::backgroundFile(m_folder->path());
    QVERIFY(QDir().mkpath(blocked + "/inside"));
    open();
    drag(label("透明标签1"), {10, 10});
    QVERIFY(m_services->dialogs.messages().isEmpty());
    m_window->close();
    const QStringList messages = m_services->dialogs.messages();
    QCOMPARE(messages.size(), 1);
    QVERIFY2(messages[0].startsWith("证件设置保存失败："), qPrintable(messages[0]));
    // What could be written still was.
    QCOMPARE(stored("编号设置", "左边"), QString("248"));
}

void CardDesignerTest::codePlacedAndSizedOnTheCard()
{
    open();
    auto* code = control<CardBarcodeLabel>(*m_window, "条码1");
    auto* types = control<QComboBox>(*m_window, "组合框1");
    QVERIFY(!code->isVisible());
    QCOMPARE(types->currentText(), QString("条码：无"));
    QCOMPARE(types->count(), 3);

    const auto choose = [&types](const char* type) {
        types->setCurrentIndex(types->findData(type));
        emit types->activated(types->currentIndex());
    };
    const auto storedBox = [this] {
        return QRect(stored("条码设置", "左边").toInt(), stored("条码设置", "顶边").toInt(),
                     stored("条码设置", "宽度").toInt(), stored("条码设置", "高度").toInt());
    };
    const auto sizeBy = [&code](QPoint by) {
        const QPoint corner(code->width() - 3, code->height() - 3);
        QTest::mousePress(code, Qt::LeftButton, {}, corner);
        QTest::mouseMove(code, corner + by);
        QTest::mouseRelease(code, Qt::LeftButton, {}, corner + by);
    };

    // A QR code takes a square box in place of the flat one of Code 128, on the same foot.
    choose("QR");
    QVERIFY(code->isVisible());
    QCOMPARE(code->type(), BarcodeType::QR);
    QCOMPARE(stored("条码设置", "类型"), QString("QR"));
    QCOMPARE(storedBox(), QRect(248, 180, 64, 64));
    QCOMPARE(code->geometry(), storedBox());

    drag(code, {-40, -100});
    QCOMPARE(storedBox(), QRect(208, 80, 64, 64));
    // Sized with the grip at its bottom-right corner, it stays square, following the longer
    // way the grip went, and never smaller than a printer's dots still resolve.
    sizeBy({10, -20});
    QCOMPARE(storedBox(), QRect(208, 80, 74, 74));
    sizeBy({-60, -60});
    QCOMPARE(storedBox(), QRect(208, 80, 48, 48));

    reopen();
    code = control<CardBarcodeLabel>(*m_window, "条码1");
    types = control<QComboBox>(*m_window, "组合框1");
    QCOMPARE(code->geometry(), QRect(208, 80, 48, 48));
    QCOMPARE(types->currentText(), QString("条码：QR"));
    // The card composed from the stored layout has its code where the designer showed it,
    // its four modules of quiet zone white.
    const QImage card =
        CardComposer(CardLayout::load(m_folder->path())).compose({"张三", "七(1)班", "2014001", {}});
    QCOMPARE(card.pixelColor(208 + 5, 80 + 5), QColor(Qt::white));
    int dark = 0;
    for (int x = 208; x < 256; ++x)
        dark += card.pixelColor(x, 80 + 24).lightness() < 100 ? 1 : 0;
    QVERIFY2(dark > 5, qPrintable(QString::number(dark)));

    // Code 128 takes a flat box again, on the same foot; its name is shown whole.
    choose("Code128");
    QCOMPARE(types->currentText(), QString("条码：Code 128"));
    QStyleOptionComboBox box;
    box.initFrom(types);
    const QRect field =
        types->style()->subControlRect(QStyle::CC_ComboBox, &box, QStyle::SC_ComboBoxEditField, types);
    QVERIFY2(types->fontMetrics().horizontalAdvance(types->currentText()) <= field.width(),
             qPrintable(QString::number(field.width())));
    QCOMPARE(storedBox(), QRect(208, 94, 140, 34));
    sizeBy({-100, 0});
    QCOMPARE(storedBox(), QRect(208, 94, 40, 34));

    // Back to none: the code leaves the card surface, and the stored type says so.
    choose("无");
    QVERIFY(!code->isVisible());
    QCOMPARE(stored("条码设置", "类型"), QString("无"));
}

QTEST_MAIN(CardDesignerTest)
#include "tst_carddesigner.moc"
