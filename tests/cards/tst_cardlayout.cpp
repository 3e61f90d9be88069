// SPDX-License-Identifier: GPL-3.0-or-later
#include "archive/ProgramFolder.h"
#include "cards/pages/CardLayout.h"
#include "formats/Gbk.h"
#include "formats/IniFile.h"
#include "tests/support/TestFolder.h"

#include <QFile>
#include <QRegularExpression>
#include <QTest>

#include <functional>

Q_DECLARE_METATYPE(CardLayout)

namespace {

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

CardLayout changed(const std::function<void(CardLayout&)>& change)
{
    CardLayout layout;
    change(layout);
    return layout;
}

} // namespace

class CardLayoutTest : public QObject {
    Q_OBJECT

private slots:
    void defaultsWithoutSettingsOrBackground();
    void storedValuesAreRead_data();
    void storedValuesAreRead();
    void backgroundFallsBackToBuiltIn_data();
    void backgroundFallsBackToBuiltIn();
    void savedLayoutReadsBack();
    void styleKeysWrittenInOrderAsText();
};

void CardLayoutTest::defaultsWithoutSettingsOrBackground()
{
    TestFolder folder;
    const CardLayout layout = CardLayout::load(folder.path());
    QCOMPARE(layout.photo, QPoint(16, 80));
    QCOMPARE(layout.name.position, QPoint(264, 105));
    QCOMPARE(layout.className.position, QPoint(268, 148));
    QCOMPARE(layout.number.position, QPoint(248, 187));
    for (const CardText& text : {layout.name, layout.className, layout.number}) {
        QCOMPARE(text.style, TextStyle());
        QCOMPARE(text.style.colour, QColor(Qt::black));
        QCOMPARE(text.style.font().bold(), false);
        QCOMPARE(text.style.font().italic(), false);
        QCOMPARE(text.style.font().pixelSize(), 16); // 12 points at 96 dpi
    }
    QVERIFY(layout.background.isEmpty());
    QVERIFY(!QFile::exists(folder.settingsFile())); // reading creates nothing

    const QByteArray builtIn = CardLayout::builtInBackground();
    QVERIFY(builtIn.startsWith("\xff\xd8\xff")); // a JPEG
    QCOMPARE(layout.backgroundPicture().size(), QSize(1024, 707));
}

void CardLayoutTest::storedValuesAreRead_data()
{
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::addColumn<CardLayout>("expected");

    QTest::newRow("加粗 1 is not bold") << "姓名设置"
                                        << "加粗"
                                        << "1" << CardLayout();
    QTest::newRow("加粗 true is not bold") << "姓名设置"
                                           << "加粗"
                                           << "true" << CardLayout();
    QTest::newRow("加粗 真 is bold") << "姓名设置"
                                     << "加粗"
                                     << "真" << changed([](CardLayout& l) { l.name.style.bold = true; });
    QTest::newRow("倾斜 真 is italic")
        << "编号设置"
        << "倾斜"
        << "真" << changed([](CardLayout& l) { l.number.style.italic = true; });
    QTest::newRow("字体大小 12.9 gives 12")
        << "班级设置"
        << "字体大小"
        << "12.9" << changed([](CardLayout& l) { l.className.style.points = 12; });
    QTest::newRow("左边 of letters gives 0")
        << "姓名设置"
        << "左边"
        << "abc" << changed([](CardLayout& l) { l.name.position.setX(0); });
    QTest::newRow("左边 -20 stays") << "sys"
                                    << "左边"
                                    << "-20" << changed([](CardLayout& l) { l.photo.setX(-20); });
    QTest::newRow("顶边 -3.5 gives -3")
        << "编号设置"
        << "顶边"
        << "-3.5" << changed([](CardLayout& l) { l.number.position.setY(-3); });
    QTest::newRow("字体颜色 255 is red")
        << "班级设置"
        << "字体颜色"
        << "255" << changed([](CardLayout& l) { l.className.style.colour = Qt::red; });
    QTest::newRow("字体颜色 65536 × blue")
        << "姓名设置"
        << "字体颜色"
        << "16711680" << changed([](CardLayout& l) { l.name.style.colour = Qt::blue; });
    QTest::newRow("字体名称 kept") << "编号设置"
                                   << "字体名称"
                                   << "黑体" << changed([](CardLayout& l) { l.number.style.face = "黑体"; });
}

void CardLayoutTest::storedValuesAreRead()
{
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, value);
    QFETCH(CardLayout, expected);

    TestFolder folder;
    QVERIFY(IniFile::write(folder.settingsFile(), section, key, value));
    QCOMPARE(CardLayout::load(folder.path()), expected);
}

void CardLayoutTest::backgroundFallsBackToBuiltIn_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QSize>("pictureSize");
    QTest::newRow("zero bytes") << QByteArray() << QSize(1024, 707);
    QTest::newRow("not a picture") << QByteArray("GIF? no, a note") << QSize(1024, 707);
    QTest::newRow("a picture") << jpegBytes(408, 264, Qt::yellow) << QSize(408, 264);
}

void CardLayoutTest::backgroundFallsBackToBuiltIn()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QSize, pictureSize);
    TestFolder folder;
    writeFile(ProgramFolder::backgroundFile(folder.path()), bytes);
    const CardLayout layout = CardLayout::load(folder.path());
    QCOMPARE(layout.background, bytes);
    QCOMPARE(layout.backgroundPicture().size(), pictureSize);
}

void CardLayoutTest::savedLayoutReadsBack()
{
    TestFolder folder;
    QVERIFY(IniFile::write(folder.settingsFile(), u"sys", u"证件宽度", u"380"));
    CardLayout layout;
    layout.photo = {-20, 300};
    layout.name = {{10, 20}, {"黑体", 18, true, false, QColor(1, 2, 3)}};
    layout.className = {{30, 40}, {"", 0, false, true, Qt::red}};
    layout.number = {{50, 60}, {"宋体", 9, true, true, Qt::white}};
    layout.background = jpegBytes(40, 26, Qt::green);

    QVERIFY(CardLayout::savePosition(folder.path(), CardElement::Photo, layout.photo));
    QVERIFY(CardLayout::savePosition(folder.path(), CardElement::Name, layout.name.position));
    QVERIFY(CardLayout::savePosition(folder.path(), CardElement::Class, layout.className.position));
    QVERIFY(CardLayout::savePosition(folder.path(), CardElement::Number, layout.number.position));
    QVERIFY(CardLayout::saveTextStyle(folder.path(), CardElement::Name, layout.name.style));
    QVERIFY(CardLayout::saveTextStyle(folder.path(), CardElement::Class, layout.className.style));
    QVERIFY(CardLayout::saveTextStyle(folder.path(), CardElement::Number, layout.number.style));
    QVERIFY(CardLayout::saveBackground(folder.path(), layout.background));

    QCOMPARE(CardLayout::load(folder.path()), layout);
    QCOMPARE(IniFile::read(folder.settingsFile(), u"sys", u"证件宽度"), QString("380"));
    QCOMPARE(IniFile::read(folder.settingsFile(), u"sys", u"左边"), QString("-20"));
}

void CardLayoutTest::styleKeysWrittenInOrderAsText()
{
    TestFolder folder;
    QVERIFY(CardLayout::saveTextStyle(folder.path(), CardElement::Class,
                                      {"华文琥珀", 14, false, true, QColor(0, 128, 255)}));
    QFile file(folder.settingsFile());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QStringList lines =
        gbk::decode(file.readAll()).split(QRegularExpression("\r?\n"), Qt::SkipEmptyParts);
    const QStringList expected{"[班级设置]",  "字体名称=华文琥珀",
                               "加粗=假",     "倾斜=真",
                               "字体大小=14", QString("字体颜色=%1").arg(0 + 256 * 128 + 65536 * 255)};
    QCOMPARE(lines, expected);
}

QTEST_MAIN(CardLayoutTest)
#include "tst_cardlayout.moc"
