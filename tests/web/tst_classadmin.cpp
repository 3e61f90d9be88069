// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/MainWindow.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/Controls.h"
#include "tests/support/TestFolder.h"
#include "tests/support/TestServices.h"
#include "web/ClassAccounts.h"
#include "web/ClassAdminWindow.h"
#include "widgets/AdvancedGrid.h"

#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <csignal>
#include <memory>

#include <sqlite3.h>

using Accounts = QList<ClassAccount>;
Q_DECLARE_METATYPE(Accounts)

namespace {

const Accounts threeClasses{{"七(1)班", "wang", "w123"}, {"七(2)班", "li", "l456"}, {"七(3)班", "zhao", ""}};

void store(const TestFolder& folder, const Accounts& accounts)
{
    QVERIFY(ClassAccounts::save(folder.databaseFile(), accounts));
}

} // namespace

class ClassAdminTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void windowAsDefined();
    void loadsTheAccountsUnderTheHeader();
    void emptyTableSavesEmpty();
    void addedRowsAreSavedEmpty();
    void firstRowBecomesTheFirstClass();
    void passwordKeptAsTyped();
    void insertAndDeleteAtTheSelectedRow();
    void headerRowAndNoSelectionRefused_data();
    void headerRowAndNoSelectionRefused();
    void closingWithoutSavingChangesNothing();
    void lockedDatabaseLeavesTheOldAccounts();
    void failureHalfWayLeavesTheOldAccounts();

private:
    ClassAdminWindow& open();
    AdvancedGrid* grid() const { return control<AdvancedGrid>(*m_window, "高级表格1"); }
    void click(const char* name) const { control<QPushButton>(*m_window, name)->click(); }
    QString cell(int row, int column) const { return grid()->getCell(row, column).text; }
    QStringList classColumn() const;
    void setCell(int row, int column, const QString& text) const
    {
        grid()->setCell(row, column, GridCell::fromText(text));
    }

    std::unique_ptr<TestFolder> m_folder;
    std::unique_ptr<TestServices> m_services;
    std::unique_ptr<MainWindow> m_main;
    std::unique_ptr<ClassAdminWindow> m_window;
};

void ClassAdminTest::init()
{
    m_folder = std::make_unique<TestFolder>();
    m_services = std::make_unique<TestServices>();
}

void ClassAdminTest::cleanup()
{
    m_window.reset();
    m_main.reset();
    m_services.reset();
    m_folder.reset();
}

// Opened from a main window, as the program does, so the class list and the main window's
// selectors are those of the test folder.
ClassAdminWindow& ClassAdminTest::open()
{
    if (!m_main)
        m_main = std::make_unique<MainWindow>(m_services->context);
    m_window = std::make_unique<ClassAdminWindow>(m_services->context);
    m_window->show();
    return *m_window;
}

QStringList ClassAdminTest::classColumn() const
{
    QStringList names;
    for (int row = 1; row < grid()->rowCount(); ++row)
        names << cell(row, 0);
    return names;
}

void ClassAdminTest::windowAsDefined()
{
    // Before loading, the grid is as its definition gives it.
    TestFolder noDatabase(false);
    m_services->context.appFolder = noDatabase.path();
    ClassAdminWindow fresh(m_services->context);
    QCOMPARE(fresh.windowTitle(), QString("班级管理员"));
    QCOMPARE(fresh.size(), QSize(325, 302));
    AdvancedGrid* table = control<AdvancedGrid>(fresh, "高级表格1");
    QCOMPARE(table->geometry(), QRect(8, 8, 304, 208));
    QCOMPARE(table->columnCount(), 3);
    QCOMPARE(table->verticalHeader()->defaultSectionSize(), 24);
    QCOMPARE(table->horizontalHeader()->defaultSectionSize(), 100);
    const QList<std::tuple<const char*, QString, QRect>> buttons{{"按钮2", "添加", {16, 232, 64, 24}},
                                                                 {"按钮3", "插入", {90, 232, 64, 24}},
                                                                 {"按钮4", "删除", {164, 232, 64, 24}},
                                                                 {"按钮1", "保存", {240, 232, 56, 24}}};
    for (const auto& [name, caption, geometry] : buttons) {
        QCOMPARE(control<QPushButton>(fresh, name)->text(), caption);
        QCOMPARE(control<QPushButton>(fresh, name)->geometry(), geometry);
    }
}

void ClassAdminTest::loadsTheAccountsUnderTheHeader()
{
    store(*m_folder, threeClasses);
    open();
    QCOMPARE(grid()->rowCount(), 4);
    QCOMPARE(QStringList({cell(0, 0), cell(0, 1), cell(0, 2)}), QStringList({"所属单位", "管理者", "密码"}));
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(cell(i + 1, 0), threeClasses[i].单位);
        QCOMPARE(cell(i + 1, 1), threeClasses[i].帐号);
        QCOMPARE(cell(i + 1, 2), threeClasses[i].密码);
    }
    QVERIFY(!(grid()->item(0, 0)->flags() & Qt::ItemIsEditable));
    QVERIFY(grid()->item(1, 0)->flags() & Qt::ItemIsEditable);
}

void ClassAdminTest::emptyTableSavesEmpty()
{
    open();
    QCOMPARE(grid()->rowCount(), 1);
    click("按钮1");
    QCOMPARE(m_services->dialogs.messages(), QStringList{"保存成功!"});
    QVERIFY(!m_window->isVisible());
    QCOMPARE(ClassAccounts::load(m_folder->databaseFile()), Accounts());
    QVERIFY(m_services->context.classList.isEmpty());
    for (const char* name : {"编辑框2", "组合框1"})
        QCOMPARE(control<QComboBox>(*m_main, name)->count(), 0);
}

void ClassAdminTest::addedRowsAreSavedEmpty()
{
    store(*m_folder, {{"七(1)班", "wang", "w123"}});
    open();
    click("按钮2");
    click("按钮2");
    QCOMPARE(grid()->rowCount(), 4);
    QCOMPARE(classColumn(), QStringList({"七(1)班", "", ""}));
    click("按钮1");
    const Accounts expected{{"七(1)班", "wang", "w123"}, {"", "", ""}, {"", "", ""}};
    QCOMPARE(ClassAccounts::load(m_folder->databaseFile()), expected);
    QCOMPARE(m_services->context.classList, QStringList({"七(1)班", "", ""}));
}

void ClassAdminTest::firstRowBecomesTheFirstClass()
{
    store(*m_folder, threeClasses);
    open();
    QCOMPARE(control<QComboBox>(*m_main, "编辑框2")->currentText(), QString("七(1)班"));
    setCell(1, 0, QStringLiteral("八(1)班"));
    grid()->setCurrentCell(3, 0);
    click("按钮4");
    click("按钮1");
    const QStringList expected{"八(1)班", "七(2)班"};
    QCOMPARE(m_services->context.classList, expected);
    for (const char* name : {"编辑框2", "组合框1"}) {
        QComboBox* selector = control<QComboBox>(*m_main, name);
        QCOMPARE(comboItems(selector), expected);
        QCOMPARE(selector->currentIndex(), 0);
    }
}

// Typed into the cell editor and saved without leaving the cell.
void ClassAdminTest::passwordKeptAsTyped()
{
    store(*m_folder, threeClasses);
    open();
    const QString typed = QStringLiteral(" 密码 'a\"b<c>&%; ");
    grid()->setCurrentCell(2, 2);
    grid()->editItem(grid()->item(2, 2));
    auto* editor = grid()->viewport()->findChild<QLineEdit*>();
    QVERIFY(editor);
    editor->setText(typed);
    click("按钮1");
    QCOMPARE(ClassAccounts::load(m_folder->databaseFile())[1].密码, typed);

    open();
    QCOMPARE(cell(2, 2), typed);
}

void ClassAdminTest::insertAndDeleteAtTheSelectedRow()
{
    store(*m_folder, threeClasses);
    open();
    grid()->setCurrentCell(2, 1);
    click("按钮3");
    QCOMPARE(classColumn(), QStringList({"七(1)班", "", "七(2)班", "七(3)班"}));
    QCOMPARE(cell(3, 1), QString("li"));
    grid()->setCurrentCell(1, 0);
    click("按钮4");
    QCOMPARE(classColumn(), QStringList({"", "七(2)班", "七(3)班"}));
    QCOMPARE(cell(0, 0), QString("所属单位"));
    click("按钮1");
    const Accounts expected{{"", "", ""}, threeClasses[1], threeClasses[2]};
    QCOMPARE(ClassAccounts::load(m_folder->databaseFile()), expected);
}

void ClassAdminTest::headerRowAndNoSelectionRefused_data()
{
    QTest::addColumn<int>("selectedRow");
    QTest::newRow("nothing selected") << -1;
    QTest::newRow("header row") << 0;
}

void ClassAdminTest::headerRowAndNoSelectionRefused()
{
    QFETCH(int, selectedRow);
    store(*m_folder, threeClasses);
    open();
    grid()->setCurrentCell(selectedRow, 0);
    QCOMPARE(grid()->cursorRow(), selectedRow);
    click("按钮3");
    click("按钮4");
    QCOMPARE(grid()->rowCount(), 4);
    QCOMPARE(cell(0, 0), QString("所属单位"));
    QCOMPARE(classColumn(), QStringList({"七(1)班", "七(2)班", "七(3)班"}));
    QVERIFY(m_services->dialogs.shown.isEmpty());
}

void ClassAdminTest::closingWithoutSavingChangesNothing()
{
    store(*m_folder, threeClasses);
    open();
    setCell(1, 0, QStringLiteral("改了"));
    click("按钮2");
    m_window->close();
    QCOMPARE(ClassAccounts::load(m_folder->databaseFile()), threeClasses);
    QCOMPARE(m_services->context.classList, QStringList({"七(1)班", "七(2)班", "七(3)班"}));
    QCOMPARE(control<QComboBox>(*m_main, "组合框1")->count(), 3);
}

// Another program holds the database for writing (a long save of its own): nothing of the
// old table is lost, the user is told, and the edits stay in the window to save again.
void ClassAdminTest::lockedDatabaseLeavesTheOldAccounts()
{
    store(*m_folder, threeClasses);
    open();
    setCell(1, 0, QStringLiteral("改了"));

    sqlite3* other = nullptr;
    QCOMPARE(sqlite3_open(m_folder->databaseFile().toUtf8().constData(), &other), SQLITE_OK);
    QCOMPARE(
        sqlite3_exec(other, "BEGIN IMMEDIATE; DELETE FROM 设置 WHERE rowid=2", nullptr, nullptr, nullptr),
        SQLITE_OK);
    click("按钮1");
    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(other);

    QCOMPARE(m_services->dialogs.shown.size(), 1);
    QVERIFY2(m_services->dialogs.last().text.startsWith(u"保存失败："),
             qPrintable(m_services->dialogs.last().text));
    QVERIFY(m_window->isVisible());
    QCOMPARE(cell(1, 0), QString("改了"));
    QCOMPARE(ClassAccounts::load(m_folder->databaseFile()), threeClasses);
    QCOMPARE(m_services->context.classList, QStringList({"七(1)班", "七(2)班", "七(3)班"}));
}

// The disk fills up after the old table is gone and while the new rows are written.
void ClassAdminTest::failureHalfWayLeavesTheOldAccounts()
{
    store(*m_folder, threeClasses);
    Accounts many;
    for (int i = 0; i < 400; ++i)
        many.append({QStringLiteral("班级%1").arg(i).repeated(20), QStringLiteral("a%1").arg(i), "p"});
    const int code = runWithFullDisk(64 * 1024, [&] {
        signal(SIGXFSZ, SIG_IGN);
        QString error;
        return !ClassAccounts::save(m_folder->databaseFile(), many, &error) && !error.isEmpty();
    });
    QCOMPARE(code, 0);
    QCOMPARE(ClassAccounts::load(m_folder->databaseFile()), threeClasses);
    // Without the limit the same rows are stored whole.
    QVERIFY(ClassAccounts::save(m_folder->databaseFile(), many));
    QCOMPARE(ClassAccounts::load(m_folder->databaseFile()).size(), 400);
}

QTEST_MAIN(ClassAdminTest)
#include "tst_classadmin.moc"
