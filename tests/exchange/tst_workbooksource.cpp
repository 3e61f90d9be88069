// SPDX-License-Identifier: GPL-3.0-or-later
#include "archive/DatabaseConnection.h"
#include "archive/Recordset.h"
#include "archive/workbook/WorkbookSource.h"
#include "exchange/Roster.h"
#include "formats/workbook/CellText.h"
#include "formats/workbook/Worksheet.h"
#include "formats/workbook/ZipPackage.h"
#include "tests/exchange/WorkbookCheck.h"
#include "tests/support/ChildProcess.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <sys/resource.h>

namespace {

QStringList fieldNames(const Recordset& r)
{
    QStringList names;
    for (int i = 0; i < r.fieldCount(); ++i)
        names << r.fieldName(i);
    return names;
}

// One text field of every record, in the order the source gives them.
QStringList column(Recordset& r, QStringView field)
{
    QStringList values;
    r.moveFirst();
    for (int i = 0; i < r.recordCount(); ++i) {
        values << r.readText(field);
        r.moveNext();
    }
    r.moveFirst();
    return values;
}

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A roster .xlsx whose only sheet holds the header and `rows` rows of students, then `tail`
// (raw XML) before the end of its data.
QByteArray rosterWorkbook(int rows, const QByteArray& tail = {})
{
    QByteArray sheet =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?><worksheet xmlns=\"http://schemas.openxmlformats."
        "org/spreadsheetml/2006/main\"><sheetData><row r=\"1\"><c t=\"inlineStr\"><is><t>姓名</t></is>"
        "</c><c t=\"inlineStr\"><is><t>班级</t></is></c><c t=\"inlineStr\"><is><t>编号</t></is></c></row>";
    for (int r = 2; r < rows + 2; ++r) {
        const QByteArray n = QByteArray::number(r);
        sheet += "<row r=\"" + n + "\"><c t=\"str\"><v>学生" + n
                 + "</v></c><c t=\"str\"><v>七(1)班</v></c><c><v>" + n + "</v></c></row>";
    }
    sheet += tail + "</sheetData></worksheet>";
    ZipPackage package;
    QString error;
    QByteArray result;
    if (!package.open(contents(QINGHE_TEST_DATA "/three-rows.xlsx"), &error))
        return {};
    package.replace("xl/worksheets/sheet1.xml", sheet);
    package.save(&result, &error);
    return result;
}

struct Opened {
    bool opened = false;
    int rows = -1;
    QString error;
};

Opened openRoster(const QString& path)
{
    DatabaseConnection workbook;
    Opened result;
    result.opened = workbook.openConnectionString(Roster::readConnection(path), WorkbookSource::open);
    result.error = workbook.lastError();
    Recordset roster;
    roster.attach(workbook);
    if (roster.open(Roster::wholeRoster))
        result.rows = roster.recordCount();
    return result;
}

} // namespace

class WorkbookSourceTest : public QObject {
    Q_OBJECT

private slots:
    void readsWorkbooksOfEveryWriter_data();
    void readsWorkbooksOfEveryWriter();
    void rosterQueriesRunAsWritten();
    void headerCellsNameTheFields();
    void blankingKeepsEveryOtherCell_data();
    void blankingKeepsEveryOtherCell();
    void onlyTheFirstOfTwinRowsIsBlanked();
    void readOnlySourceRefusesWrites();
    void refusedWritesLeaveTheFile_data();
    void refusedWritesLeaveTheFile();
    void unreadableSourcesFailSoftly_data();
    void unreadableSourcesFailSoftly();
    void numbersReadAsTheirCellShows_data();
    void numbersReadAsTheirCellShows();
    void inflatingWorkbookRefusedWithinBounds();
    void rowsBeyondTheSheetAreNotRead();
    void cellsInEveryFormXmlAllows_data();
    void cellsInEveryFormXmlAllows();
    void hugeCellCutWithANote();
};

void WorkbookSourceTest::readsWorkbooksOfEveryWriter_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("students");
    QTest::addColumn<QStringList>("first"); // 姓名, 班级, 编号 of the first student
    QTest::addColumn<QString>("born");      // 出生日期 of the first student, where the sheet has it

    const QStringList wang{"王伟", "七(1)班", "2014070101"};
    QTest::newRow("LibreOffice .xls") << "roster.xls" << 31 << wang << "2011-01-01";
    QTest::newRow("LibreOffice .xlsx") << "roster.xlsx" << 31 << wang << "2011-01-01";
    QTest::newRow("Gnumeric .xls") << "roster-gnumeric.xls" << 31 << wang << "2011-01-01";
    QTest::newRow("Gnumeric .xlsx") << "roster-gnumeric.xlsx" << 31 << wang << "2011-01-01";
    const QStringList wangYi{"王一", "七(1)班", "2024001"};
    QTest::newRow("3 rows .xls in the mini stream") << "three-rows.xls" << 3 << wangYi << QString();
    QTest::newRow("3 rows .xlsx") << "three-rows.xlsx" << 3 << wangYi << QString();
    QTest::newRow("shared strings .xlsx") << "three-rows-sst.xlsx" << 3 << wangYi << QString();
    QTest::newRow("sheet 工作表1 .xls") << "chinese-sheet.xls" << 3 << wangYi << QString();
    QTest::newRow("sheet 工作表1 .xlsx") << "chinese-sheet.xlsx" << 3 << wangYi << QString();
    QTest::newRow("inline strings, exponent number")
        << "inline-strings.xlsx" << 2 << QStringList{"王五", "七(1)班", "2014070101"} << QString();
}

void WorkbookSourceTest::readsWorkbooksOfEveryWriter()
{
    QFETCH(QString, file);
    QFETCH(int, students);
    QFETCH(QStringList, first);
    QFETCH(QString, born);

    DatabaseConnection workbook;
    QVERIFY2(workbook.openConnectionString(Roster::readConnection(WorkbookCheck::dataFile(file)),
                                           WorkbookSource::open),
             qPrintable(workbook.lastError()));
    Recordset roster;
    roster.attach(workbook);
    QVERIFY2(roster.open(Roster::wholeRoster), qPrintable(roster.lastError()));
    QVERIFY(Roster::hasRosterHeader(roster));
    QCOMPARE(roster.recordCount(), students);
    QCOMPARE(QStringList({roster.readText(u"姓名"), roster.readText(u"班级"), roster.readText(u"编号")}),
             first);
    if (!born.isEmpty())
        QCOMPARE(roster.readText(u"出生日期"), born);
}

void WorkbookSourceTest::rosterQueriesRunAsWritten()
{
    DatabaseConnection workbook;
    QVERIFY(workbook.openConnectionString(Roster::readConnection(WorkbookCheck::dataFile("roster.xls")),
                                          WorkbookSource::open));
    Recordset roster;
    roster.attach(workbook);

    // The row with a blanked name is left out, the one with an empty class is not.
    QVERIFY(roster.open(Roster::wholeRoster));
    const QStringList names = column(roster, u"姓名");
    QCOMPARE(names.size(), 31);
    QVERIFY(!names.contains(QString()));
    QCOMPARE(column(roster, u"班级").at(names.indexOf("孙芳")), QString());

    QVERIFY(roster.open(Roster::classRoster(u"七(3)班")));
    QCOMPARE(column(roster, u"姓名"),
             QStringList({"张娜", "杨丽", "吴洋", "胡静", "高磊", "郑伟", "宋敏", "韩强", "曹艳"}));

    QVERIFY(roster.open(Roster::studentRow(u"七(2)班", u"陈静", u"2014070105")));
    QCOMPARE(roster.recordCount(), 1);
    // A quote in a class does not break the query.
    QVERIFY(roster.open(Roster::classRoster(u"O'Neil班")));
    QCOMPARE(roster.recordCount(), 0);
}

void WorkbookSourceTest::headerCellsNameTheFields()
{
    DatabaseConnection workbook;
    QVERIFY(workbook.openConnectionString(Roster::readConnection(WorkbookCheck::dataFile("roster.xlsx")),
                                          WorkbookSource::open));
    Recordset roster;
    roster.attach(workbook);
    QVERIFY(roster.open(Roster::wholeRoster));
    // 备注 spans two merged cells; the covered one has no text of its own.
    QCOMPARE(fieldNames(roster),
             QStringList({"序号", "姓名", "班级", "编号", "出生日期", "备注", "F7", "字数"}));

    QVERIFY(workbook.openConnectionString(
        Roster::readConnection(WorkbookCheck::dataFile("student-id-header.xlsx")), WorkbookSource::open));
    roster.attach(workbook);
    QVERIFY(roster.open(Roster::wholeRoster));
    QCOMPARE(fieldNames(roster), QStringList({"姓名", "班级", "学号"}));
    QVERIFY(!Roster::hasRosterHeader(roster));
}

void WorkbookSourceTest::blankingKeepsEveryOtherCell_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QStringList>("student");
    QTest::addColumn<QStringList>("blanked"); // what the second reader sees change

    const QStringList chen{"七(2)班", "陈静", "2014070105"};
    const QStringList sixthRow{"Sheet1!5,1", "Sheet1!5,2", "Sheet1!5,3"};
    QTest::newRow("LibreOffice .xls") << "roster.xls" << chen << sixthRow;
    QTest::newRow("LibreOffice .xlsx") << "roster.xlsx" << chen << sixthRow;
    QTest::newRow("Gnumeric .xls") << "roster-gnumeric.xls" << chen << sixthRow;
    QTest::newRow("Gnumeric .xlsx") << "roster-gnumeric.xlsx" << chen << sixthRow;
    QTest::newRow("2,000 rows .xls") << "roster-2000.xls" << QStringList{"七(3)班", "胡静1004", "2014071105"}
                                     << QStringList{"Sheet1!1006,1", "Sheet1!1006,2", "Sheet1!1006,3"};
    QTest::newRow("mini stream .xls") << "three-rows.xls" << QStringList{"七(1)班", "王二", "2024002"}
                                      << QStringList{"Sheet1!2,0", "Sheet1!2,1", "Sheet1!2,2"};
    QTest::newRow("sheet 工作表1 .xlsx") << "chinese-sheet.xlsx" << QStringList{"七(2)班", "王三", "2024003"}
                                         << QStringList{"工作表1!3,0", "工作表1!3,1", "工作表1!3,2"};
}

void WorkbookSourceTest::blankingKeepsEveryOtherCell()
{
    QFETCH(QString, file);
    QFETCH(QStringList, student);
    QFETCH(QStringList, blanked);

    QTemporaryDir folder;
    const QString path = WorkbookCheck::copy(file, folder.path());
    const QJsonObject before = WorkbookCheck::secondReader(path);
    QVERIFY(!before.isEmpty());

    QString error;
    QVERIFY2(Roster::markDone(path, student[0], student[1], student[2], &error), qPrintable(error));

    const QJsonObject after = WorkbookCheck::secondReader(path);
    QVERIFY(!after.isEmpty());
    QCOMPARE(WorkbookCheck::differences(before, after), blanked);
    // Gnumeric writes row offsets that point nowhere; where the writer's were right, they stay so.
    if (file.endsWith(".xls") && WorkbookCheck::positionProblem(WorkbookCheck::dataFile(file)).isEmpty())
        QCOMPARE(WorkbookCheck::positionProblem(path), QString());

    // Loading it again lists one student fewer.
    DatabaseConnection workbook;
    QVERIFY(workbook.openConnectionString(Roster::readConnection(path), WorkbookSource::open));
    Recordset roster;
    roster.attach(workbook);
    QVERIFY(roster.open(Roster::studentRow(student[0], student[1], student[2])));
    QCOMPARE(roster.recordCount(), 0);
}

void WorkbookSourceTest::onlyTheFirstOfTwinRowsIsBlanked()
{
    QTemporaryDir folder;
    const QString path = WorkbookCheck::copy("roster.xls", folder.path());
    // 林洋 2014070119 is listed twice, in sheet rows 21 and 33.
    QString error;
    QVERIFY2(Roster::markDone(path, "七(1)班", "林洋", "2014070119", &error), qPrintable(error));
    DatabaseConnection workbook;
    QVERIFY(workbook.openConnectionString(Roster::readConnection(path), WorkbookSource::open));
    Recordset roster;
    roster.attach(workbook);
    QVERIFY(roster.open(Roster::wholeRoster));
    QCOMPARE(roster.recordCount(), 30);
    QCOMPARE(column(roster, u"姓名").count("林洋"), 1);
    QCOMPARE(column(roster, u"姓名").last(), QString("林洋")); // the twin at the end stays

    QVERIFY(Roster::markDone(path, "七(1)班", "林洋", "2014070119", &error));
    QVERIFY(!Roster::markDone(path, "七(1)班", "林洋", "2014070119", &error));
    QVERIFY(error.contains("没有这名学生"));
}

void WorkbookSourceTest::readOnlySourceRefusesWrites()
{
    QTemporaryDir folder;
    const QString path = WorkbookCheck::copy("three-rows.xlsx", folder.path());
    const QByteArray original = contents(path);
    DatabaseConnection workbook;
    QVERIFY(workbook.openConnectionString(Roster::readConnection(path), WorkbookSource::open));
    Recordset roster;
    roster.attach(workbook);
    QVERIFY(roster.open(Roster::wholeRoster));
    QVERIFY(roster.writeText(u"姓名", {}));
    QVERIFY(!roster.update());
    QCOMPARE(contents(path), original);
}

void WorkbookSourceTest::refusedWritesLeaveTheFile_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("change"); // done to the file after it was opened
    QTest::addColumn<QString>("reason");

    QTest::newRow("new text") << "roster.xls"
                              << "姓名"
                              << "新名字"
                              << ""
                              << "只能清空";
    QTest::newRow("a formula cell") << "roster.xlsx"
                                    << "字数"
                                    << ""
                                    << ""
                                    << "公式";
    QTest::newRow("a formula cell .xls") << "roster.xls"
                                         << "字数"
                                         << ""
                                         << ""
                                         << "公式";
    QTest::newRow("file made read-only") << "roster.xls"
                                         << "姓名"
                                         << ""
                                         << "read-only"
                                         << "只读";
    QTest::newRow("file gone") << "roster.xlsx"
                               << "姓名"
                               << ""
                               << "remove"
                               << "找不到";
    QTest::newRow("another workbook in its place") << "roster.xls"
                                                   << "姓名"
                                                   << ""
                                                   << "replace"
                                                   << "对不上";
}

void WorkbookSourceTest::refusedWritesLeaveTheFile()
{
    QFETCH(QString, file);
    QFETCH(QString, field);
    QFETCH(QString, value);
    QFETCH(QString, change);
    QFETCH(QString, reason);

    QTemporaryDir folder;
    const QString path = WorkbookCheck::copy(file, folder.path());
    DatabaseConnection workbook;
    QVERIFY(workbook.openConnectionString(Roster::writeConnection(path), WorkbookSource::open));
    Recordset roster;
    roster.attach(workbook);
    QVERIFY(roster.open(Roster::studentRow(u"七(1)班", u"王伟", u"2014070101")));
    QCOMPARE(roster.recordCount(), 1);

    if (change == "read-only")
        QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::ReadGroup);
    else if (change == "remove")
        QFile::remove(path);
    else if (change == "replace")
        WorkbookCheck::copy("roster-2000.xls", folder.path(), QFileInfo(path).fileName());
    const QByteArray original = contents(path);

    QVERIFY(roster.writeText(field, value));
    QVERIFY(!roster.update());
    QVERIFY2(roster.lastError().contains(reason), qPrintable(roster.lastError()));
    QCOMPARE(contents(path), original);
    QCOMPARE(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden).size(), change == "remove" ? 0 : 1);
}

void WorkbookSourceTest::unreadableSourcesFailSoftly_data()
{
    QTest::addColumn<QString>("connection");
    QTest::addColumn<QByteArray>("bytes"); // written to the file the connection names; none when empty

    QTest::newRow("missing file") << "DBQ=%1/none.xls;DefaultDir=;Driver={Microsoft Excel Driver (*.xls)}"
                                  << QByteArray();
    QTest::newRow("not a workbook") << Roster::readConnection("%1/text.xls")
                                    << QByteArray("姓名,班级,编号\n");
    QTest::newRow("a broken .xlsx") << Roster::readConnection("%1/broken.xlsx")
                                    << QByteArray("PK\x03\x04garbage");
    QTest::newRow("a broken .xls") << Roster::readConnection(
        "%1/broken.xls") << QByteArray("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) + QByteArray(600, 'x');
    QTest::newRow("another driver") << "DBQ=%1/none.mdb;Driver={Microsoft Access Driver (*.mdb)}"
                                    << QByteArray();
}

void WorkbookSourceTest::unreadableSourcesFailSoftly()
{
    QFETCH(QString, connection);
    QFETCH(QByteArray, bytes);
    QTemporaryDir folder;
    connection = connection.arg(folder.path());
    if (!bytes.isEmpty()) {
        QFile file(connection.section('=', 1).section(';', 0, 0));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    DatabaseConnection workbook;
    QVERIFY(!workbook.openConnectionString(connection, WorkbookSource::open));
    QVERIFY(!workbook.lastError().isEmpty());
    Recordset roster;
    roster.attach(workbook);
    QVERIFY(!roster.open(Roster::wholeRoster));
    QCOMPARE(roster.recordCount(), 0);
    QCOMPARE(roster.fieldCount(), 0);
}

void WorkbookSourceTest::numbersReadAsTheirCellShows_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("text");

    QTest::newRow("student number") << 2014070101.0 << "General"
                                    << "2014070101";
    QTest::newRow("large integral") << 123456789012345.0 << ""
                                    << "123456789012345";
    QTest::newRow("fraction") << 0.1 + 0.2 << "General"
                              << "0.3";
    QTest::newRow("decimals unformatted") << 3.14159 << "0.00"
                                          << "3.14159";
    QTest::newRow("scientific is no date") << 1234.0 << "0.00E+00"
                                           << "1234";
    QTest::newRow("zero-padded number") << 1234.0 << "000000"
                                        << "001234";
    QTest::newRow("ISO date") << 40544.0 << "YYYY\\-MM\\-DD"
                              << "2011-01-01";
    QTest::newRow("built-in short date") << 40544.0 << CellText::builtInFormat(14) << "2011/1/1";
    QTest::newRow("Chinese date") << 40575.0 << CellText::builtInFormat(31) << "2011年2月1日";
    QTest::newRow("year and month") << 40575.0 << "yyyy\"年\"m\"月\""
                                    << "2011年2月";
    QTest::newRow("date and time") << 40544.5 << "yyyy/m/d h:mm"
                                   << "2011/1/1 12:00";
    QTest::newRow("minutes after hours") << 0.2604166667 << "hh:mm:ss"
                                         << "06:15:00";
    QTest::newRow("12-hour clock") << 0.75 << "h:mm AM/PM"
                                   << "6:00 PM";
    QTest::newRow("Chinese afternoon") << 0.75 << CellText::builtInFormat(34) << "下午6时00分";
    QTest::newRow("elapsed hours") << 1.5 << "[h]:mm"
                                   << "36:00";
    QTest::newRow("month name") << 40544.0 << "mmm-yy"
                                << "Jan-11";
    QTest::newRow("locale and colour skipped") << 40544.0 << "[$-804][Red]yyyy-m-d"
                                               << "2011-1-1";
    QTest::newRow("before the leap day that was not") << 59.0 << "yyyy-mm-dd"
                                                      << "1900-02-28";
    QTest::newRow("after it") << 61.0 << "yyyy-mm-dd"
                              << "1900-03-01";
}

void WorkbookSourceTest::numbersReadAsTheirCellShows()
{
    QFETCH(double, value);
    QFETCH(QString, format);
    QFETCH(QString, text);
    QCOMPARE(CellText::number(value, format, false), text);
}

void WorkbookSourceTest::inflatingWorkbookRefusedWithinBounds()
{
    QTemporaryDir folder;
    const QString path = folder.filePath("名单.xlsx");
    {
        // About 100 MB of rows once inflated, a megabyte or so as stored.
        const QByteArray row =
            "<row><c t=\"str\"><v>学生</v></c><c t=\"str\"><v>七(1)班</v></c><c><v>1</v></c></row>";
        QByteArray padding;
        padding.reserve(row.size() * 1'300'000);
        for (int i = 0; i < 1'300'000; ++i)
            padding += row;
        const QByteArray bomb = rosterWorkbook(2, padding);
        QVERIFY(bomb.size() < 4 * 1024 * 1024);
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bomb);
    }
    // In a process of its own, so its peak is the refusal's.
    const int code = runInChild([&path] {
        const Opened result = openRoster(path);
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        const double cpuSeconds = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
                                  + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
        const long peakMb = usage.ru_maxrss / 1024;
        if (result.opened || !result.error.contains(QStringLiteral("工作簿太大")) || cpuSeconds > 3
            || peakMb > 600) {
            qWarning("opened %d in %.1f s of processor time, peak %ld MB: %s", int(result.opened), cpuSeconds,
                     peakMb, qPrintable(result.error));
            return false;
        }
        return true;
    });
    QCOMPARE(code, 0);
}

void WorkbookSourceTest::rowsBeyondTheSheetAreNotRead()
{
    QTemporaryDir folder;
    const QString path = folder.filePath("名单.xlsx");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    // Rows past the last one a sheet can have (1,048,576) are no sheet's content.
    file.write(rosterWorkbook(3, "<row r=\"300\"><c t=\"str\"><v>末行</v></c></row>"
                                 "<row r=\"1048577\"><c t=\"str\"><v>多余</v></c></row>"
                                 "<row r=\"99999999\"><c t=\"str\"><v>多余</v></c></row>"));
    file.close();
    DatabaseConnection workbook;
    QVERIFY2(workbook.openConnectionString(Roster::readConnection(path), WorkbookSource::open),
             qPrintable(workbook.lastError()));
    Recordset roster;
    roster.attach(workbook);
    QVERIFY(roster.open(QStringLiteral("select * from [Sheet1$]")));
    const QStringList names = column(roster, u"姓名");
    QCOMPARE(names.mid(0, 3), QStringList({"学生2", "学生3", "学生4"}));
    QCOMPARE(names.last(), QString("末行"));
    QVERIFY(!names.contains("多余"));
}

void WorkbookSourceTest::cellsInEveryFormXmlAllows_data()
{
    QTest::addColumn<QByteArray>("row");
    QTest::addColumn<QStringList>("cells");
    QTest::newRow("entities") << QByteArray("<c t=\"str\"><v>甲&amp;乙 &lt;&gt;&quot;&apos;</v></c>"
                                            "<c t=\"str\"><v>&#19971;&#x73ED;</v></c><c><v>1</v></c>")
                              << QStringList{"甲&乙 <>\"'", "七班", "1"};
    QTest::newRow("CDATA and comments")
        << QByteArray("<c t=\"str\"><v><![CDATA[王<五>]]></v></c><!-- <c><v>x</v></c> -->"
                      "<c t=\"str\"><v>七<!-- n -->班</v></c><c><v>2</v></c>")
        << QStringList{"王<五>", "七班", "2"};
    QTest::newRow("runs and phonetic guides") << QByteArray(
        "<c t=\"inlineStr\"><is><r><rPr><b/></rPr><t>赵</t></r><r><t xml:space=\"preserve\"> 六</t></r>"
        "<rPh sb=\"0\" eb=\"1\"><t>zhao</t></rPh></is></c><c t=\"inlineStr\"><is><t>八班</t></is></c>"
        "<c t=\"inlineStr\"><is><t/></is></c>")
                                              << QStringList{"赵 六", "八班", ""};
    QTest::newRow("self-closed and formulas") << QByteArray(
        "<c r=\"A5\" t=\"str\"><f>\"孙\"&amp;\"七\"</f><v>孙七</v></c><c r=\"C5\"><v>4</v></c><c r=\"D5\"/>")
                                              << QStringList{"孙七", "", "4"};
}

void WorkbookSourceTest::cellsInEveryFormXmlAllows()
{
    QFETCH(QByteArray, row);
    QFETCH(QStringList, cells);
    QTemporaryDir folder;
    const QString path = folder.filePath("名单.xlsx");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(rosterWorkbook(0, "<row r=\"5\">" + row + "</row>"));
    file.close();
    DatabaseConnection workbook;
    QVERIFY2(workbook.openConnectionString(Roster::readConnection(path), WorkbookSource::open),
             qPrintable(workbook.lastError()));
    Recordset roster;
    roster.attach(workbook);
    QVERIFY(roster.open(QStringLiteral("select * from [Sheet1$] where 姓名 IS NOT NULL")));
    QCOMPARE(roster.recordCount(), 1);
    QCOMPARE((QStringList{roster.readText(u"姓名"), roster.readText(u"班级"), roster.readText(u"编号")}),
             cells);
}

void WorkbookSourceTest::hugeCellCutWithANote()
{
    // A workbook of a few hundred kilobytes whose cells inflate to 30 MB each: read up to what a
    // cell of Excel holds, with a note, and without the program swelling by their size (only
    // the inflated sheet is held a moment; keeping the cells whole took five times that).
    QTemporaryDir folder;
    const QString path = folder.filePath("名单.xlsx");
    {
        const QByteArray huge(30 << 20, 'x');
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(rosterWorkbook(1, "<row r=\"3\"><c t=\"str\"><v>" + huge
                                         + "</v></c><c t=\"inlineStr\"><is><r><t>七</t></r><r><t>" + huge
                                         + "</t></r></is></c><c><v>3</v></c></row>"));
    }
    const int code = runInChild([&path] {
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        const long before = usage.ru_maxrss / 1024;
        DatabaseConnection workbook;
        if (!workbook.openConnectionString(Roster::readConnection(path), WorkbookSource::open))
            return false;
        Recordset roster;
        roster.attach(workbook);
        roster.open(QStringLiteral("select * from [Sheet1$] where 编号='3'"));
        const QString name = roster.readText(u"姓名");
        const QString className = roster.readText(u"班级");
        getrusage(RUSAGE_SELF, &usage);
        const long grown = usage.ru_maxrss / 1024 - before;
        const QString expected = QString(WorksheetCells::maxCellText, u'x') + WorksheetCells::cutNote;
        if (name != expected
            || className != u'七' + expected.left(WorksheetCells::maxCellText - 1) + WorksheetCells::cutNote
            || grown > 150) {
            qWarning("grew by %ld MB; name of %lld, class of %lld characters", grown, qlonglong(name.size()),
                     qlonglong(className.size()));
            return false;
        }
        return true;
    });
    QCOMPARE(code, 0);
}

QTEST_GUILESS_MAIN(WorkbookSourceTest)
#include "tst_workbooksource.moc"
