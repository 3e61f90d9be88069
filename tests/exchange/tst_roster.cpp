// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/MainWindow.h"
#include "desktop/SpreadsheetApp.h"
#include "formats/workbook/Workbook.h"
#include "formats/workbook/ZipPackage.h"
#include "records/RecordEditorWindow.h"
#include "tests/exchange/WorkbookCheck.h"
#include "tests/support/Controls.h"
#include "tests/support/TestFolder.h"
#include "tests/support/TestServices.h"

#include <QCheckBox>
#include <QFile>
#include <QJsonDocument>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTableWidget>
#include <QTest>

#include <memory>

namespace {

// The main window of a fresh program folder with three classes.
struct Station {
    TestFolder folder;
    TestServices services;
    std::unique_ptr<MainWindow> window;

    Station()
    {
        folder.addClasses({"七(1)班", "七(2)班", "七(3)班"});
        window = std::make_unique<MainWindow>(services.context);
    }

    QTableWidget* roster() const { return control<QTableWidget>(*window, "数据列表框"); }
    QLineEdit* name() const { return control<QLineEdit>(*window, "编辑框1"); }
    QComboBox* className() const { return control<QComboBox>(*window, "编辑框2"); }
    void click(const char* button) const { control<QPushButton>(*window, button)->click(); }
    void load(const QString& path)
    {
        services.dialogs.pathAnswers.enqueue(path);
        click("按钮3");
    }
    QStringList rows() const
    {
        QStringList list;
        for (int r = 0; r < roster()->rowCount(); ++r)
            list << roster()->item(r, 0)->text() + u'/' + roster()->item(r, 1)->text() + u'/'
                        + roster()->item(r, 2)->text();
        return list;
    }
    QStringList form() const { return {name()->text(), className()->currentText()}; }
    QString rosterCopy(const QString& dataName, const QString& name = {}) const
    {
        return WorkbookCheck::copy(dataName, folder.path(), name);
    }
};

const QString headerRefusal = QStringLiteral("请以“姓名”“班级”“编号”为表头！");

} // namespace

class RosterTest : public QObject {
    Q_OBJECT

private slots:
    void chosenRosterNeedsItsHeader_data();
    void chosenRosterNeedsItsHeader();
    void loadedRosterFillsTheForm();
    void cancelledChoiceKeepsTheList();
    void clickOnTheCurrentRowTakesItAfterTheSwitch();
    void fixedRosterWholeAndByClass();
    void fixedRosterIsOptional();
    void rosterSaveBlanksTheRow_data();
    void rosterSaveBlanksTheRow();
    void unwritableRosterIsReportedOnce();
    void templateOpensAsNewWorkbook();
    void templateNeedsASpreadsheetProgram();
    void classBoxesKeepTheirList();
};

void RosterTest::chosenRosterNeedsItsHeader_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("rows");
    QTest::addColumn<QString>("message");

    QTest::newRow("序号 姓名 班级 编号") << "roster.xls" << 31 << "";
    QTest::newRow("no sheet named Sheet1") << "chinese-sheet.xlsx" << 3 << "";
    QTest::newRow("学号 for 编号") << "student-id-header.xlsx" << 0 << headerRefusal;
    QTest::newRow("学生姓名 for 姓名") << "wrong-header.xls" << 0 << headerRefusal;
    QTest::newRow("not a workbook") << "make-workbooks.sh" << 0
                                    << "名单文件读不出来：不是Excel工作簿（.xls或.xlsx）";
}

void RosterTest::chosenRosterNeedsItsHeader()
{
    QFETCH(QString, file);
    QFETCH(int, rows);
    QFETCH(QString, message);
    Station s;
    s.load(s.rosterCopy(file));
    QCOMPARE(s.roster()->rowCount(), rows);
    QCOMPARE(s.services.dialogs.messages(), message.isEmpty() ? QStringList() : QStringList{message});
    if (message == headerRefusal)
        QCOMPARE(s.services.dialogs.last().title, QString());
}

void RosterTest::loadedRosterFillsTheForm()
{
    Station s;
    const QString path = s.rosterCopy("roster.xlsx");
    s.load(path);
    QCOMPARE(s.services.dialogs.shown.first().kind, QString("openFile"));

    const QStringList rows = s.rows();
    QCOMPARE(rows.size(), 31);
    QCOMPARE(rows.first(), QString("七(1)班/王伟/2014070101"));
    QVERIFY(rows.contains("/孙芳/2014070112"));     // listed without a class
    QVERIFY(!rows.contains("七(1)班//2014070199")); // a row without a name is no student
    QCOMPARE(s.roster()->currentRow(), 0);
    QCOMPARE(s.form(), QStringList({"王伟", "七(1)班"}));
    s.className()->setEditText("七(2)班");
    s.name()->setText("someone");

    // The dialog offers the file chosen last; loading it again gives the same roster.
    s.load(path);
    QCOMPARE(s.services.dialogs.shown.last().kind, QString("openFile"));
    QCOMPARE(s.rows(), rows);
    QCOMPARE(s.form(), QStringList({"王伟", "七(1)班"}));
    QCOMPARE(s.roster()->currentRow(), 0);
}

void RosterTest::clickOnTheCurrentRowTakesItAfterTheSwitch()
{
    Station s;
    s.load(s.rosterCopy("roster.xlsx"));
    s.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(s.window.get()));
    control<QCheckBox>(*s.window, "表")->click();
    QCOMPARE(s.form(), QStringList({"", ""}));
    QCOMPARE(s.roster()->currentRow(), 0);
    QTest::mouseClick(s.roster()->viewport(), Qt::LeftButton, {},
                      s.roster()->visualItemRect(s.roster()->item(0, 1)).center());
    QCOMPARE(s.form(), QStringList({"王伟", "七(1)班"}));
}

void RosterTest::cancelledChoiceKeepsTheList()
{
    Station s;
    s.load(s.rosterCopy("three-rows.xls"));
    QCOMPARE(s.roster()->rowCount(), 3);
    s.services.dialogs.pathAnswers.enqueue(QString());
    s.click("按钮3");
    QCOMPARE(s.roster()->rowCount(), 3);
    QCOMPARE(s.services.dialogs.messages(), QStringList());
}

void RosterTest::fixedRosterWholeAndByClass()
{
    Station s;
    s.rosterCopy("roster.xls", "学生名单.xls");
    s.click("按钮6");
    QCOMPARE(s.roster()->rowCount(), 31);
    QCOMPARE(s.form(), QStringList({"王伟", "七(1)班"}));

    control<QComboBox>(*s.window, "组合框1")->setCurrentText("七(3)班");
    s.click("按钮5");
    QStringList names;
    for (const QString& row : s.rows())
        names << row.section('/', 1, 1);
    QCOMPARE(names, QStringList({"张娜", "杨丽", "吴洋", "胡静", "高磊", "郑伟", "宋敏", "韩强", "曹艳"}));
    QCOMPARE(s.form(), QStringList({"张娜", "七(3)班"}));
    QCOMPARE(s.services.dialogs.messages(), QStringList());
}

void RosterTest::fixedRosterIsOptional()
{
    Station s;
    s.click("按钮6");
    QCOMPARE(s.roster()->rowCount(), 0);
    QCOMPARE(s.services.dialogs.messages(), QStringList());
    QVERIFY(control<QStatusBar>(*s.window, "状态条1")->currentMessage().contains("学生名单.xls"));

    // Only an .xlsx roster there: that one is the fixed roster.
    s.rosterCopy("three-rows.xlsx", "学生名单.xlsx");
    s.click("按钮6");
    QCOMPARE(s.roster()->rowCount(), 3);
    QCOMPARE(control<QStatusBar>(*s.window, "状态条1")->currentMessage(), QString());
}

void RosterTest::rosterSaveBlanksTheRow_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("savedAs"); // the fixed roster's name; a chosen file when empty

    QTest::newRow("chosen .xls") << "roster.xls"
                                 << "";
    QTest::newRow("chosen .xlsx") << "roster.xlsx"
                                  << "";
    QTest::newRow("fixed .xls") << "roster-gnumeric.xls"
                                << "学生名单.xls";
}

void RosterTest::rosterSaveBlanksTheRow()
{
    QFETCH(QString, file);
    QFETCH(QString, savedAs);
    Station s;
    const QString path = s.rosterCopy(file, savedAs);
    const QJsonObject before = WorkbookCheck::secondReader(path);
    if (savedAs.isEmpty())
        s.load(path);
    else
        s.click("按钮6");
    control<QCheckBox>(*s.window, "表")->click();
    s.roster()->setCurrentCell(4, 0);
    QCOMPARE(s.form(), QStringList({"陈静", "七(2)班"}));

    s.click("按钮2");
    QCOMPARE(s.services.dialogs.messages(), QStringList({"保存成功"}));
    QCOMPARE(s.folder.storedColumn(u"编号"), QStringList({"2014070105"}));
    QCOMPARE(s.roster()->rowCount(), 30);
    QCOMPARE(s.form(), QStringList({"杨丽", "七(3)班"}));

    // Exactly that row's three roster cells are blank; nothing else of the workbook changed.
    QCOMPARE(WorkbookCheck::differences(before, WorkbookCheck::secondReader(path)),
             QStringList({"Sheet1!5,1", "Sheet1!5,2", "Sheet1!5,3"}));
    if (savedAs.isEmpty())
        s.load(path);
    else
        s.click("按钮6");
    QCOMPARE(s.roster()->rowCount(), 30);
}

void RosterTest::unwritableRosterIsReportedOnce()
{
    Station s;
    const QString path = s.rosterCopy("three-rows.xls");
    s.load(path);
    control<QCheckBox>(*s.window, "表")->click();
    s.roster()->setCurrentCell(1, 0);
    QFile::setPermissions(path, QFileDevice::ReadOwner);

    s.click("按钮2");
    const QStringList messages = s.services.dialogs.messages();
    QCOMPARE(messages.size(), 1);
    QVERIFY2(messages[0].startsWith("学生已保存，但名单文件无法更新：名单文件是只读的"),
             qPrintable(messages[0]));
    QCOMPARE(s.folder.storedColumn(u"姓名"), QStringList({"王二"}));
    QCOMPARE(s.roster()->rowCount(), 2);
    QCOMPARE(s.form(), QStringList({"王三", "七(2)班"}));
}

void RosterTest::templateOpensAsNewWorkbook()
{
    Station s;
    s.click("按钮9");
    QCOMPARE(s.services.dialogs.messages(), QStringList());
    QCOMPARE(s.services.shell.openedFiles.size(), 1);
    const QString opened = s.services.shell.openedFiles.first();
    QVERIFY(opened.startsWith(SpreadsheetApp::workbookFolder()));
    QVERIFY(opened.endsWith(".xltx"));
    QCOMPARE(QFile::permissions(SpreadsheetApp::workbookFolder())
                 & (QFileDevice::ReadOther | QFileDevice::ReadGroup),
             QFileDevice::Permissions());

    QFile file(opened);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    ZipPackage package;
    QString error;
    QVERIFY(package.open(bytes, &error));
    QVERIFY(package.read("[Content_Types].xml")->contains("spreadsheetml.template.main+xml"));
    QCOMPARE(QJsonDocument(WorkbookCheck::secondReader(opened)).toJson(QJsonDocument::Compact),
             QByteArray(R"({"Sheet1":[[[1,"姓名"],[1,"班级"],[1,"编号"]]]})"));
    file.remove();
}

void RosterTest::templateNeedsASpreadsheetProgram()
{
    Station s;
    s.services.shell.programTypes.clear();
    s.click("按钮9");
    QCOMPARE(s.services.dialogs.messages(), QStringList({"你没有安装EXCEL程序，请安装后再查看"}));
    QCOMPARE(s.services.dialogs.last().title, QString());
    QVERIFY(s.services.shell.openedFiles.isEmpty());
}

void RosterTest::classBoxesKeepTheirList()
{
    Station s;
    s.window->show();
    const auto typeAndEnter = [](QComboBox* box) {
        box->setFocus();
        box->setEditText("八(9)班");
        QTest::keyClick(box, Qt::Key_Return);
        return comboItems(box);
    };
    const QStringList classes{"七(1)班", "七(2)班", "七(3)班"};
    QCOMPARE(typeAndEnter(s.className()), classes);
    QCOMPARE(typeAndEnter(control<QComboBox>(*s.window, "组合框1")), classes);

    RecordEditorWindow editor(s.services.context);
    editor.show();
    QCOMPARE(typeAndEnter(control<QComboBox>(editor, "组合框2")), classes);
}

QTEST_MAIN(RosterTest)
#include "tst_roster.moc"
