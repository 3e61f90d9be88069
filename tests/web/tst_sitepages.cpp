// SPDX-License-Identifier: GPL-3.0-or-later
#include "archive/ProgramFolder.h"
#include "formats/Gbk.h"
#include "tests/support/TestFolder.h"
#include "web/SitePages.h"

#include <QDir>
#include <QFile>
#include <QTest>

namespace {

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The text between the first `from` and the next `to`, as the browser gets it.
QString between(const QByteArray& page, const QString& from, const QString& to)
{
    const QString text = gbk::decode(page);
    const qsizetype start = text.indexOf(from);
    if (start < 0)
        return QStringLiteral("<%1 missing>").arg(from);
    const qsizetype end = text.indexOf(to, start + from.size());
    return text.mid(start + from.size(), end - start - from.size());
}

const QString titleOpening = QStringLiteral(R"(<font face="黑体" size="7" color="#FF0000">)");

} // namespace

class SitePagesTest : public QObject {
    Q_OBJECT

private slots:
    void defaultPagesAsReviewed_data();
    void defaultPagesAsReviewed();
    void pagesAreGbkWithCrLfAndTabs_data();
    void pagesAreGbkWithCrLfAndTabs();
    void optionsFollowTheNoneChoice_data();
    void optionsFollowTheNoneChoice();
    void titleFillsTheTitleParagraph_data();
    void titleFillsTheTitleParagraph();
    void writingTwiceGivesTheSameFiles();
    void writeFailureIsReported();
};

void SitePagesTest::defaultPagesAsReviewed_data()
{
    QTest::addColumn<QByteArray>("page");
    QTest::addColumn<QString>("fixture");
    QTest::newRow("index.asp") << SitePages::homePage(SitePages::defaultTitle) << "index.asp";
    QTest::newRow("h2.asp") << SitePages::editPage(SitePages::defaultOptions) << "h2.asp";
}

// The fixtures were read line by line against what the pages must contain; a change to the
// page text has to be made in them too, on purpose.
void SitePagesTest::defaultPagesAsReviewed()
{
    QFETCH(QByteArray, page);
    QFETCH(QString, fixture);
    const QByteArray expected = readFile(QStringLiteral(QINGHE_TEST_DATA "/") + fixture);
    QVERIFY(!expected.isEmpty());
    if (page != expected) {
        const QStringList got = gbk::decode(page).split(u'\n');
        const QStringList want = gbk::decode(expected).split(u'\n');
        for (qsizetype i = 0; i < std::min(got.size(), want.size()); ++i)
            QCOMPARE(got[i], want[i]);
        QCOMPARE(got.size(), want.size());
    }
    QCOMPARE(page, expected);
}

void SitePagesTest::pagesAreGbkWithCrLfAndTabs_data()
{
    QTest::addColumn<QByteArray>("page");
    QTest::addColumn<QString>("chineseText");
    QTest::newRow("index.asp") << SitePages::homePage(QStringLiteral("青禾中学")) << "青禾中学";
    QTest::newRow("h2.asp") << SitePages::editPage(QStringLiteral("三好学生")) << "信息编辑";
}

void SitePagesTest::pagesAreGbkWithCrLfAndTabs()
{
    QFETCH(QByteArray, page);
    QFETCH(QString, chineseText);
    QVERIFY(page.contains(gbk::encode(chineseText)));
    QVERIFY(!page.contains(chineseText.toUtf8()));
    QVERIFY(!page.contains('\0'));
    QVERIFY(page.endsWith("\r\n"));
    const QList<QByteArray> lines = page.split('\n');
    for (qsizetype i = 0; i + 1 < lines.size(); ++i) {
        const QByteArray& line = lines[i];
        QVERIFY2(line.endsWith('\r'), qPrintable(QStringLiteral("line %1 ends without CR").arg(i + 1)));
        QVERIFY2(line.count('\r') == 1, qPrintable(QStringLiteral("line %1 holds a bare CR").arg(i + 1)));
        QVERIFY2(!line.startsWith(' '), qPrintable(QStringLiteral("line %1 indented by blanks").arg(i + 1)));
    }
}

void SitePagesTest::optionsFollowTheNoneChoice_data()
{
    QTest::addColumn<QString>("options");
    QTest::addColumn<QString>("choices");
    QTest::newRow("default, in order")
        << SitePages::defaultOptions
        << "<option>无</option><option>三好学生</option><option>优秀团员</option>"
           "<option>优秀班干部</option>";
    QTest::newRow("none") << ""
                          << "<option>无</option>";
    QTest::newRow("empty pieces dropped") << "|甲||乙|"
                                          << "<option>无</option><option>甲</option><option>乙</option>";
    QTest::newRow("blanks kept") << " 甲 "
                                 << "<option>无</option><option> 甲 </option>";
    QTest::newRow("markup escaped")
        << R"(<b>|"引号"|&)"
        << "<option>无</option><option>&lt;b&gt;</option><option>&quot;引号&quot;</option>"
           "<option>&amp;</option>";
    QTest::newRow("line break") << "甲\n乙"
                                << "<option>无</option><option>甲 乙</option>";
}

void SitePagesTest::optionsFollowTheNoneChoice()
{
    QFETCH(QString, options);
    QFETCH(QString, choices);
    QCOMPARE(between(SitePages::editPage(options), QStringLiteral(R"(<select size="1" name="D2">)"),
                     QStringLiteral("</select>")),
             choices);
}

void SitePagesTest::titleFillsTheTitleParagraph_data()
{
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("shown");
    QTest::newRow("default") << SitePages::defaultTitle << SitePages::defaultTitle;
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("markup escaped") << R"(<script>alert("x")</script> & 1)"
                                    << "&lt;script&gt;alert(&quot;x&quot;)&lt;/script&gt; &amp; 1";
    QTest::newRow("line break") << "青禾\r\n中学"
                                << "青禾  中学";
    QTest::newRow("outside GBK") << "青禾 😀"
                                 << "青禾 😀";
}

void SitePagesTest::titleFillsTheTitleParagraph()
{
    QFETCH(QString, title);
    QFETCH(QString, shown);
    const QByteArray page = SitePages::homePage(title);
    QCOMPARE(between(page, titleOpening, QStringLiteral("</font>")), shown);
    // Nothing else of the page depends on the title.
    QByteArray rest = page;
    rest.replace(gbk::encode(titleOpening + shown), gbk::encode(titleOpening));
    QCOMPARE(rest, SitePages::homePage({}));
}

void SitePagesTest::writingTwiceGivesTheSameFiles()
{
    TestFolder folder;
    const QString db = ProgramFolder::databaseFolder(folder.path());
    const QString title = QStringLiteral("青禾中学学生信息");
    const QString options = QStringLiteral("三好学生|优秀团员");
    QString error;
    QVERIFY2(SitePages::write(folder.path(), title, options, &error), qPrintable(error));
    const QByteArray home = readFile(db + "/index.asp");
    const QByteArray edit = readFile(db + "/h2.asp");
    QCOMPARE(home, SitePages::homePage(title));
    QCOMPARE(edit, SitePages::editPage(options));
    QVERIFY(SitePages::write(folder.path(), title, options, &error));
    QCOMPARE(readFile(db + "/index.asp"), home);
    QCOMPARE(readFile(db + "/h2.asp"), edit);
}

void SitePagesTest::writeFailureIsReported()
{
    TestFolder folder(false);
    const QString db = ProgramFolder::databaseFolder(folder.path());
    QVERIFY(QDir(db).removeRecursively());
    QString error;
    QVERIFY(!SitePages::write(folder.path(), SitePages::defaultTitle, SitePages::defaultOptions, &error));
    QVERIFY2(error.contains(u"index.asp"), qPrintable(error));
    QVERIFY(!QFile::exists(db));
}

QTEST_GUILESS_MAIN(SitePagesTest)
#include "tst_sitepages.moc"
