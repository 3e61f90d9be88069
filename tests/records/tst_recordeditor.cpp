// SPDX-License-Identifier: GPL-3.0-or-later
#include "archive/DatabaseConnection.h"
#include "archive/ProgramFolder.h"
#include "archive/Recordset.h"
#include "archive/StudentTable.h"
#include "cards/pages/CardComposer.h"
#include "cards/pages/CardLayout.h"
#include "formats/Gbk.h"
#include "records/RecordEditorWindow.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/Controls.h"
#include "tests/support/TestFolder.h"
#include "tests/support/TestServices.h"

#include <QAction>
#include <QComboBox>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include <QGuiApplication>
#include <QThread>

#include <atomic>
#include <memory>
#include <thread>

#include <sqlite3.h>
#include <sys/stat.h>

using ListMode = RecordEditorState::ListMode;

namespace {

// The editor opened on a test folder, with doubles for the desktop.
struct Editor {
    TestServices services;
    std::unique_ptr<RecordEditorWindow> window;

    Editor(const TestFolder& folder, const QStringList& classes) { open(folder, classes); }

    void open(const TestFolder& folder, const QStringList& classes)
    {
        window.reset();
        services.context.appFolder = folder.path();
        services.context.classList = classes;
        window = std::make_unique<RecordEditorWindow>(services.context);
    }

    template <typename T = QWidget> T* get(const char* name) const { return control<T>(*window, name); }
    void click(const char* button) const { get<QPushButton>(button)->click(); }
    QTreeWidget* list() const { return get<QTreeWidget>("数据列表框"); }

    QStringList column(int c) const
    {
        QStringList texts;
        for (int row = 0; row < list()->topLevelItemCount(); ++row)
            texts << list()->topLevelItem(row)->text(c);
        return texts;
    }
    int selectedRow() const
    {
        const auto items = list()->selectedItems();
        return items.isEmpty() ? -1 : list()->indexOfTopLevelItem(items.first());
    }
    void clickRow(int row) const
    {
        const QRect rect = list()->visualItemRect(list()->topLevelItem(row));
        QTest::mouseClick(list()->viewport(), Qt::LeftButton, {}, rect.center());
    }
    QString shownName() const { return get<QLineEdit>("编辑框1")->text(); }
    ListMode mode() const { return services.context.recordEditor.listMode; }

    // Every detail control, in the order of the columns they show.
    QStringList details() const
    {
        return {get<QLineEdit>("编辑框1")->text(),
                get<QComboBox>("组合框2")->currentText(),
                get<QLineEdit>("编辑框4")->text(),
                get<QComboBox>("组合框3")->currentText(),
                get<QLineEdit>("编辑框9")->text(),
                get<QLineEdit>("编辑框7")->text(),
                get<QLineEdit>("编辑框8")->text(),
                get<QLabel>("标签5")->text(),
                get<QPlainTextEdit>("编辑框10")->toPlainText()};
    }
    bool photoShown() const
    {
        const QLabel* box = get<QLabel>("图片框2");
        return !box->pixmap().isNull();
    }
};

// One student as the database holds it now.
struct Stored {
    bool exists = false;
    QStringList texts; // 姓名 班级 编号 性别 电话 出生年月 住址 选项
    QByteArray photo;
    QByteArray remarks;
};

Stored stored(const TestFolder& folder, int id)
{
    DatabaseConnection connection;
    connection.openDatabaseFile(folder.databaseFile());
    Recordset record;
    record.attach(connection);
    record.open(StudentTable::selectId(id));
    Stored s;
    s.exists = record.recordCount() == 1;
    for (const char16_t* field : {u"姓名", u"班级", u"编号", u"性别", u"电话", u"出生年月", u"住址", u"选项"})
        s.texts << record.readText(field);
    s.photo = record.readBytes(u"照片");
    s.remarks = record.readBytes(u"简介");
    return s;
}

QString writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

const QStringList classes{"七(1)班", "七(2)班", "空班"};

} // namespace

class RecordEditorTest : public QObject {
    Q_OBJECT

private slots:
    void layoutMatchesTheWindowDefinition();
    void openingListsTheFirstClass();
    void classWithoutRecordsEmptiesTheDetails();
    void withoutPhotoListsTheSubset();
    void listModeAfterEachCommand_data();
    void listModeAfterEachCommand();
    void searchMatchesNumberOrNameExactly();
    void reopeningListsTheFirstClassAndNumbersIt();
    void selectingShowsEveryColumn();
    void savingWritesEveryColumn();
    void nothingSelectedNothingSavedOrDeleted();
    void twoEditorsEachDeleteTheStudentTheyShow();
    void failedSaveIsNotStoredByALaterMove();
    void readOnlyFolderListsAndRefusesToSave();
    void saveWaitsWithTheWaitCursor();
    void deletingKeepsTheSelectionSensible_data();
    void deletingKeepsTheSelectionSensible();
    void deleteAskedAndCancelled();
    void steppingStopsAtBothEnds();
    void photoFromFileAndFromMainWindow();
    void notAPictureIsRefused();
    void phonePhotoLoadsAndGoesOnTheCard();
    void pictureBombIsRefused();
    void exportWritesTheListedPhotos();
    void exportLeavesTheLoadedRecord();
    void exportFailureIsReported();
    void numbering_data();
    void numbering();
    void numberingRenumbersTheWholeClassAfterASearch();
    void numberingEveryoneInModeAll();
    void numberingRefreshesTheDetails();
    void numberingFollowsEntryOrderAfterEdits();
    void missingDatabaseLeavesEverythingEmpty();
};

void RecordEditorTest::layoutMatchesTheWindowDefinition()
{
    TestFolder folder;
    Editor editor(folder, classes);
    QWidget& w = *editor.window;
    QCOMPARE(w.windowTitle(), QString("数据修改"));
    QCOMPARE(w.size(), QSize(810, 504));
    QCOMPARE(editor.list()->geometry(), QRect(13, 54, 312, 362));
    QStringList headers;
    QList<int> widths;
    for (int c = 0; c < editor.list()->columnCount(); ++c) {
        headers << editor.list()->headerItem()->text(c);
        widths << editor.list()->columnWidth(c);
    }
    QCOMPARE(headers, QStringList({"班级", "姓名", "编号", "照片"}));
    QCOMPARE(widths, QList<int>({70, 70, 120, 40}));
    QCOMPARE(editor.get("图片框2")->geometry(), QRect(7, 7, 112, 144));
    QCOMPARE(editor.get("图片框2")->parentWidget()->objectName(), QString("图片框1"));
    QCOMPARE(editor.get("编辑框10")->geometry(), QRect(127, 159, 312, 168));
    QCOMPARE(editor.get("编辑框5")->geometry(), QRect(373, 19, 16, 16));
    QCOMPARE(editor.get("编辑框5")->parentWidget()->objectName(), QString("分组框1"));
    QCOMPARE(editor.get<QGroupBox>("分组框1")->title(), QString("学生按班级批量编号"));
    QCOMPARE(editor.get("目录编辑框1")->geometry(), QRect(16, 416, 312, 21));
    // Window-level controls that lie over the panel are drawn above it.
    QVERIFY(editor.get("按钮1")->isVisibleTo(&w));
    QCOMPARE(w.childAt(365, 245), editor.get("按钮1"));
    QCOMPARE(w.childAt(605, 40), editor.get("透明标签5"));

    QCOMPARE(comboItems(editor.get<QComboBox>("组合框1")), classes);
    QCOMPARE(comboItems(editor.get<QComboBox>("组合框2")), classes);
    QCOMPARE(comboItems(editor.get<QComboBox>("组合框3")), QStringList({"男", "女"}));
    QCOMPARE(editor.get<QLineEdit>("编辑框2")->text(), QString::number(QDate::currentDate().year()));
    QCOMPARE(editor.get<QLineEdit>("编辑框5")->text(), QString("3"));
    QCOMPARE(editor.get<QLineEdit>("编辑框6")->text(), QString("001"));
    QVERIFY(!editor.get("编辑框6")->isEnabled());
    QCOMPARE(editor.get<QLineEdit>("目录编辑框1")->text(), ProgramFolder::photoFolder(folder.path()));
}

void RecordEditorTest::openingListsTheFirstClass()
{
    TestFolder folder;
    folder.addStudents({{"张三", "七(2)班", "3", {}},
                        {"李四", "七(1)班", "1", jpegBytes(20, 30)},
                        {"王五", "七(1)班", "2", {}}});
    Editor editor(folder, classes);
    QCOMPARE(editor.get<QLabel>("标签1")->text(), QString("七(1)班数据"));
    QCOMPARE(editor.column(1), QStringList({"李四", "王五"}));
    QCOMPARE(editor.column(2), QStringList({"1", "2"}));
    QCOMPARE(editor.column(3), QStringList({"有", "无"}));
    QCOMPARE(editor.selectedRow(), 0);
    QCOMPARE(editor.shownName(), QString("李四"));
    QVERIFY(editor.photoShown());
    QCOMPARE(editor.services.context.recordEditor.currentRow, 0);
}

void RecordEditorTest::classWithoutRecordsEmptiesTheDetails()
{
    TestFolder folder;
    folder.addStudents({{"张三", "七(1)班", "1", jpegBytes(20, 30)}});
    Editor editor(folder, classes);
    QCOMPARE(editor.shownName(), QString("张三"));

    editor.get<QComboBox>("组合框1")->setCurrentText("空班");
    editor.click("按钮5");
    QCOMPARE(editor.list()->topLevelItemCount(), 0);
    QCOMPARE(editor.get<QLabel>("标签1")->text(), QString("空班数据"));
    QCOMPARE(editor.details(), QStringList(9, QString()));
    QVERIFY(!editor.photoShown());
    QCOMPARE(editor.selectedRow(), -1);

    // A class with a quote in its name is looked up, not a broken statement.
    TestFolder quoted;
    quoted.addStudents({{"Tom", "O'Neil班", "1", {}}});
    Editor other(quoted, {"O'Neil班"});
    QCOMPARE(other.column(1), QStringList({"Tom"}));
    QCOMPARE(other.get<QLabel>("标签1")->text(), QString("O'Neil班数据"));
}

void RecordEditorTest::withoutPhotoListsTheSubset()
{
    TestFolder folder;
    folder.addStudents({{"甲", "七(1)班", "1", jpegBytes(8, 8)},
                        {"乙", "七(1)班", "2", {}},
                        {"丙", "七(2)班", "3", {}},
                        {"丁", "七(1)班", "4", {}},
                        {"戊", "七(2)班", "5", jpegBytes(8, 8)}});
    Editor editor(folder, classes);
    editor.click("按钮11");
    QCOMPARE(editor.column(1), QStringList({"乙", "丁"}));
    QCOMPARE(editor.column(3), QStringList({"无", "无"}));
    QCOMPARE(editor.get<QLabel>("标签1")->text(), QString("七(1)班数据"));
    QCOMPARE(editor.shownName(), QString("乙"));

    // Every record of the class has a photo: nothing listed, yet the first one is shown.
    TestFolder allPhotos;
    allPhotos.addStudents({{"甲", "七(1)班", "1", jpegBytes(8, 8)}, {"乙", "七(1)班", "2", jpegBytes(8, 8)}});
    Editor full(allPhotos, classes);
    full.click("按钮11");
    QCOMPARE(full.list()->topLevelItemCount(), 0);
    QCOMPARE(full.shownName(), QString("甲"));
    QVERIFY(full.photoShown());
}

void RecordEditorTest::listModeAfterEachCommand_data()
{
    QTest::addColumn<QStringList>("buttons");
    QTest::addColumn<ListMode>("mode");
    QTest::addColumn<QString>("caption");
    QTest::newRow("opening") << QStringList() << ListMode::ByClass << "七(1)班数据";
    QTest::newRow("全部显示") << QStringList({"按钮6"}) << ListMode::All << "所有数据";
    QTest::newRow("全部显示, then search") << QStringList({"按钮6", "按钮7"}) << ListMode::All << "个人数据";
    QTest::newRow("班级查找, then search")
        << QStringList({"按钮6", "按钮5", "按钮7"}) << ListMode::ByClass << "个人数据";
    QTest::newRow("无照片, then search")
        << QStringList({"按钮6", "按钮11", "按钮7"}) << ListMode::ByClass << "个人数据";
    QTest::newRow("无照片") << QStringList({"按钮6", "按钮11"}) << ListMode::ByClass << "七(1)班数据";
}

void RecordEditorTest::listModeAfterEachCommand()
{
    QFETCH(QStringList, buttons);
    QFETCH(ListMode, mode);
    QFETCH(QString, caption);
    TestFolder folder;
    folder.addStudents({{"甲", "七(1)班", "1", {}}, {"乙", "七(2)班", "2", {}}});
    Editor editor(folder, classes);
    for (const QString& button : buttons)
        editor.click(button.toUtf8().constData());
    QCOMPARE(editor.mode(), mode);
    QCOMPARE(editor.get<QLabel>("标签1")->text(), caption);
}

void RecordEditorTest::searchMatchesNumberOrNameExactly()
{
    TestFolder folder;
    folder.addStudents({{"张三", "七(1)班", "2014001", {}},
                        {"张三丰", "七(2)班", "2014002", {}},
                        {"李四", "七(2)班", "张三", {}},
                        {"无号", "七(2)班", "", {}},
                        {"O'Neil", "七(2)班", "", {}}});
    Editor editor(folder, classes);
    const auto search = [&](const QString& text) {
        editor.get<QLineEdit>("编辑框3")->setText(text);
        editor.click("按钮7");
        return editor.column(1);
    };
    QCOMPARE(search("张三"), QStringList({"张三", "李四"}));
    QCOMPARE(editor.shownName(), QString("张三"));
    QCOMPARE(search("2014002"), QStringList({"张三丰"}));
    QCOMPARE(search("2014"), QStringList());
    QCOMPARE(search(""), QStringList({"无号", "O'Neil"}));
    QCOMPARE(search("O'Neil"), QStringList({"O'Neil"}));
}

void RecordEditorTest::reopeningListsTheFirstClassAndNumbersIt()
{
    TestFolder folder;
    folder.addStudents({{"甲", "七(1)班", "1", {}}, {"乙", "七(2)班", "2", {}}, {"丙", "七(2)班", "3", {}}});
    Editor editor(folder, classes);
    editor.click("按钮6");
    editor.click("按钮2");
    QCOMPARE(editor.services.context.recordEditor.currentRow, 1);
    editor.open(folder, classes);
    QCOMPARE(editor.mode(), ListMode::ByClass);
    QCOMPARE(editor.get<QLabel>("标签1")->text(), QString("七(1)班数据"));
    QCOMPARE(editor.column(1), QStringList({"甲"}));
    QCOMPARE(editor.services.context.recordEditor.currentRow, 0);

    // The numbering covers what the window names: the class, not everyone.
    editor.get<QLineEdit>("编辑框2")->setText("2025");
    editor.click("按钮9");
    QCOMPARE(editor.column(1), QStringList({"甲"}));
    QCOMPARE(folder.storedColumn(u"编号"), QStringList({"2025001", "2", "3"}));
}

void RecordEditorTest::selectingShowsEveryColumn()
{
    TestFolder folder;
    const QList<int> ids =
        folder.addStudents({{"甲", "七(1)班", "1", {}}, {"乙", "七(1)班", "2", jpegBytes(30, 40)}});
    folder.execute(
        QString("UPDATE 学生 SET 性别='女', 电话='13800000000', 出生年月='2008-09', 住址='青禾路1号', "
                "选项='三好学生', 简介=X'%1' WHERE id=%2")
            .arg(QString::fromLatin1(gbk::encode(u"第一行\r\n第二行").toHex()))
            .arg(ids[1]));
    Editor editor(folder, classes);
    QVERIFY(!editor.photoShown());
    editor.clickRow(1);
    QCOMPARE(editor.selectedRow(), 1);
    QCOMPARE(editor.details(), QStringList({"乙", "七(1)班", "2", "女", "13800000000", "2008-09", "青禾路1号",
                                            "三好学生", "第一行\n第二行"}));
    QVERIFY(editor.photoShown());
    QCOMPARE(editor.services.context.recordEditor.currentRow, 1);

    // Unsaved edits and a loaded photo go when another row is selected.
    editor.get<QLineEdit>("编辑框1")->setText("改了");
    editor.services.context.entryPhoto = [] { return jpegBytes(10, 10); };
    editor.clickRow(0);
    editor.click("按钮10");
    editor.clickRow(1);
    QCOMPARE(editor.shownName(), QString("乙"));
    editor.clickRow(0);
    QVERIFY(!editor.photoShown());
    QCOMPARE(stored(folder, ids[0]).photo, QByteArray());
    QCOMPARE(stored(folder, ids[1]).texts[0], QString("乙"));
}

void RecordEditorTest::savingWritesEveryColumn()
{
    TestFolder folder;
    const QList<int> ids =
        folder.addStudents({{"甲", "七(1)班", "1", {}}, {"乙", "七(1)班", "2", jpegBytes(30, 40)}});
    folder.execute(QString("UPDATE 学生 SET 选项='三好学生' WHERE id=%1").arg(ids[1]));
    Editor editor(folder, classes);
    editor.clickRow(1);

    const QByteArray photo = jpegBytes(60, 80, Qt::magenta);
    const QString file = writeFile(folder.path() + "/新照片.jpg", photo);
    editor.services.dialogs.pathAnswers.enqueue(file);
    editor.click("按钮13");
    editor.get<QLineEdit>("编辑框1")->setText("乙乙");
    editor.get<QComboBox>("组合框2")->setEditText("不在列表里的班");
    editor.get<QLineEdit>("编辑框4")->setText("2014099");
    editor.get<QComboBox>("组合框3")->setEditText("女");
    editor.get<QLineEdit>("编辑框9")->setText("010-1234");
    editor.get<QLineEdit>("编辑框7")->setText("2009-01");
    editor.get<QLineEdit>("编辑框8")->setText("北京路2号");
    editor.get<QPlainTextEdit>("编辑框10")->setPlainText("第一行\n\n第三行 “引号”");
    editor.click("按钮4");

    QCOMPARE(editor.services.dialogs.messages(), QStringList({"更改成功!"}));
    const Stored s = stored(folder, ids[1]);
    QCOMPARE(s.texts, QStringList({"乙乙", "不在列表里的班", "2014099", "女", "010-1234", "2009-01",
                                   "北京路2号", "三好学生"}));
    QCOMPARE(s.photo, photo);
    QCOMPARE(s.remarks, gbk::encode(u"第一行\r\n\r\n第三行 “引号”"));
    QCOMPARE(stored(folder, ids[0]).texts[0], QString("甲"));
    QCOMPARE(editor.list()->topLevelItem(1)->text(0), QString("不在列表里的班"));
    QCOMPARE(editor.list()->topLevelItem(1)->text(1), QString("乙乙"));
    QCOMPARE(editor.list()->topLevelItem(1)->text(2), QString("2014099"));

    // Read back the way the user would: the remarks keep their lines.
    editor.clickRow(0);
    editor.clickRow(1);
    QCOMPARE(editor.get<QPlainTextEdit>("编辑框10")->toPlainText(), QString("第一行\n\n第三行 “引号”"));

    // An emptied photo is stored empty and listed as "无".
    editor.services.context.entryPhoto = [] { return QByteArray(); };
    editor.click("按钮10");
    QVERIFY(!editor.photoShown());
    editor.click("按钮4");
    QCOMPARE(stored(folder, ids[1]).photo, QByteArray());
    QCOMPARE(editor.list()->topLevelItem(1)->text(3), QString("无"));
}

void RecordEditorTest::nothingSelectedNothingSavedOrDeleted()
{
    // The class's first student is shown, but "无照片" lists nobody.
    TestFolder folder;
    const QList<int> ids = folder.addStudents({{"甲", "七(1)班", "1", jpegBytes(8, 8)}});
    Editor editor(folder, classes);
    editor.click("按钮11");
    QCOMPARE(editor.list()->topLevelItemCount(), 0);
    QCOMPARE(editor.shownName(), QString("甲"));
    editor.get<QLineEdit>("编辑框8")->setText("不该存下");
    editor.services.dialogs.confirmAnswers.enqueue(true);
    editor.click("按钮3");
    editor.click("按钮4");
    QVERIFY(editor.services.dialogs.shown.isEmpty());
    QVERIFY(stored(folder, ids[0]).exists);
    QCOMPARE(stored(folder, ids[0]).texts[6], QString());

    // A listed row whose selection the user cleared.
    editor.click("按钮5");
    editor.list()->clearSelection();
    editor.click("按钮3");
    editor.click("按钮4");
    QVERIFY(editor.services.dialogs.shown.isEmpty());
    QVERIFY(stored(folder, ids[0]).exists);

    // An empty database.
    TestFolder empty;
    Editor blank(empty, classes);
    blank.get<QLineEdit>("编辑框1")->setText("新人");
    blank.click("按钮4");
    QVERIFY(blank.services.dialogs.shown.isEmpty());
    QCOMPARE(empty.storedColumn(u"编号").size(), 0);
}

void RecordEditorTest::twoEditorsEachDeleteTheStudentTheyShow()
{
    TestFolder folder;
    const QList<int> ids = folder.addStudents(
        {{"甲", "七(1)班", "1", {}}, {"乙", "七(1)班", "2", {}}, {"丙", "七(1)班", "3", {}}});
    TestServices services;
    services.context.appFolder = folder.path();
    services.context.classList = classes;
    RecordEditorWindow first(services.context);
    RecordEditorWindow second(services.context);
    const auto clickRow = [](RecordEditorWindow& window, int row) {
        QTreeWidget* list = control<QTreeWidget>(window, "数据列表框");
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          list->visualItemRect(list->topLevelItem(row)).center());
    };
    clickRow(first, 1);
    clickRow(second, 2); // the shared row index now says 2

    services.dialogs.confirmAnswers.enqueue(true);
    control<QPushButton>(first, "按钮3")->click();
    QVERIFY(services.dialogs.messages().isEmpty());
    QVERIFY(!stored(folder, ids[1]).exists);
    QVERIFY(stored(folder, ids[2]).exists);

    // The second window's form still shows 丙; saving it writes 丙, deleting deletes 丙.
    control<QLineEdit>(second, "编辑框8")->setText("丙的地址");
    control<QPushButton>(second, "按钮4")->click();
    QCOMPARE(stored(folder, ids[2]).texts[6], QString("丙的地址"));
    QCOMPARE(stored(folder, ids[0]).texts[6], QString());
    services.dialogs.confirmAnswers.enqueue(true);
    control<QPushButton>(second, "按钮3")->click();
    QVERIFY(!stored(folder, ids[2]).exists);
    QCOMPARE(folder.storedColumn(u"姓名"), QStringList({"甲"}));

    // The first window still shows 丙, deleted meanwhile: it says so and deletes nothing else.
    QCOMPARE(control<QLineEdit>(first, "编辑框1")->text(), QString("丙"));
    services.dialogs.confirmAnswers.enqueue(true);
    control<QPushButton>(first, "按钮3")->click();
    QCOMPARE(services.dialogs.messages(), QStringList({"更改成功!", "删除失败：这条记录已被删除"}));
    QCOMPARE(folder.storedColumn(u"姓名"), QStringList({"甲"}));
}

void RecordEditorTest::failedSaveIsNotStoredByALaterMove()
{
    TestFolder folder;
    const QList<int> ids = folder.addStudents({{"甲", "七(1)班", "1", {}}, {"乙", "七(1)班", "2", {}}});
    // A column the save writes last has gone (an older program's table, say).
    folder.execute("DROP INDEX IF EXISTS 学生_班级顺序");
    folder.execute("ALTER TABLE 学生 DROP COLUMN 住址");
    Editor editor(folder, classes);
    editor.get<QLineEdit>("编辑框1")->setText("改了");
    editor.get<QLineEdit>("编辑框9")->setText("13800000000");
    editor.click("按钮4");
    QCOMPARE(editor.services.dialogs.messages(), QStringList({"保存失败：没有这个字段：住址"}));

    editor.clickRow(1);
    editor.click("按钮1");
    editor.click("按钮6");
    QCOMPARE(stored(folder, ids[0]).texts[0], QString("甲"));
    QCOMPARE(stored(folder, ids[0]).texts[4], QString());
    QCOMPARE(editor.column(1), QStringList({"甲", "乙"}));
}

void RecordEditorTest::readOnlyFolderListsAndRefusesToSave()
{
    TestFolder folder;
    folder.addStudents({{"甲", "七(1)班", "1", jpegBytes(20, 30)}, {"乙", "七(1)班", "2", {}}});
    const QString db = ProgramFolder::databaseFolder(folder.path());
    const auto setMode = [](const QString& path, mode_t mode) {
        chmod(QFile::encodeName(path).constData(), mode);
    };
    setMode(folder.path(), 0755);
    setMode(db, 0555);
    setMode(folder.databaseFile(), 0444);
    const int result = runWithoutPrivileges([&] {
        Editor editor(folder, classes);
        const bool listed = editor.column(1) == QStringList({"甲", "乙"}) && editor.photoShown();
        editor.get<QLineEdit>("编辑框8")->setText("新地址");
        editor.click("按钮4");
        editor.services.dialogs.confirmAnswers.enqueue(true);
        editor.click("按钮3");
        editor.click("按钮9");
        const QStringList expected{"保存失败：数据库文件是只读的，不能写入",
                                   "删除失败：数据库文件是只读的，不能写入",
                                   "编号失败：数据库文件是只读的，不能写入"};
        if (editor.services.dialogs.messages() != expected)
            qWarning("%s", qPrintable(editor.services.dialogs.messages().join(" | ")));
        return listed && editor.services.dialogs.messages() == expected && editor.column(1).size() == 2;
    });
    setMode(db, 0755);
    setMode(folder.databaseFile(), 0644);
    QCOMPARE(result, 0);
    QCOMPARE(folder.storedColumn(u"住址"), QStringList({"", ""}));
}

void RecordEditorTest::saveWaitsWithTheWaitCursor()
{
    TestFolder folder;
    const QList<int> ids = folder.addStudents({{"甲", "七(1)班", "1", {}}});
    Editor editor(folder, classes);
    // The web server, say, writes for a moment.
    std::atomic<bool> locked = false;
    std::atomic<int> cursorWhileLocked = -1;
    std::thread other([&] {
        sqlite3* db = nullptr;
        sqlite3_open(QFile::encodeName(folder.databaseFile()).constData(), &db);
        sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
        locked = true;
        QThread::msleep(300);
        const QCursor* cursor = QGuiApplication::overrideCursor();
        cursorWhileLocked = cursor ? int(cursor->shape()) : int(Qt::ArrowCursor);
        sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
        sqlite3_close(db);
    });
    while (!locked)
        QThread::msleep(1);
    editor.get<QLineEdit>("编辑框8")->setText("等过锁");
    editor.click("按钮4");
    other.join();
    QCOMPARE(cursorWhileLocked.load(), int(Qt::WaitCursor));
    QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
    QCOMPARE(editor.services.dialogs.messages(), QStringList({"更改成功!"}));
    QCOMPARE(stored(folder, ids[0]).texts[6], QString("等过锁"));
}

void RecordEditorTest::deletingKeepsTheSelectionSensible_data()
{
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<int>("row");
    QTest::addColumn<QStringList>("left");
    QTest::addColumn<int>("selected");
    QTest::newRow("only row") << QStringList({"甲"}) << 0 << QStringList() << -1;
    QTest::newRow("last row") << QStringList({"甲", "乙", "丙"}) << 2 << QStringList({"甲", "乙"}) << 0;
    QTest::newRow("middle row") << QStringList({"甲", "乙", "丙"}) << 1 << QStringList({"甲", "丙"}) << 1;
    QTest::newRow("first row") << QStringList({"甲", "乙", "丙"}) << 0 << QStringList({"乙", "丙"}) << 0;
}

void RecordEditorTest::deletingKeepsTheSelectionSensible()
{
    QFETCH(QStringList, names);
    QFETCH(int, row);
    QFETCH(QStringList, left);
    QFETCH(int, selected);
    TestFolder folder;
    QList<TestFolder::Student> students;
    for (const QString& name : names)
        students.append({name, "七(1)班", name + "号", jpegBytes(8, 8)});
    const QList<int> ids = folder.addStudents(students);
    Editor editor(folder, classes);
    editor.clickRow(row);

    editor.services.dialogs.confirmAnswers.enqueue(true);
    editor.click("按钮3");
    QCOMPARE(editor.services.dialogs.last().kind, QString("confirm"));
    QCOMPARE(editor.services.dialogs.last().text, QString("是否确定删除!!"));
    QVERIFY(editor.services.dialogs.messages().isEmpty());
    QVERIFY(!stored(folder, ids[row]).exists);
    QCOMPARE(folder.storedColumn(u"编号").size(), left.size());
    QCOMPARE(editor.column(1), left);
    QCOMPARE(editor.selectedRow(), selected);
    if (selected < 0) {
        QCOMPARE(editor.details(), QStringList(9, QString()));
        QVERIFY(!editor.photoShown());
        return;
    }
    QCOMPARE(editor.shownName(), left[selected]);
    QCOMPARE(editor.services.context.recordEditor.currentRow, selected);
    // What is shown is what the next save writes to.
    editor.get<QLineEdit>("编辑框8")->setText("新地址");
    editor.click("按钮4");
    QCOMPARE(stored(folder, ids[names.indexOf(left[selected])]).texts[6], QString("新地址"));
}

void RecordEditorTest::deleteAskedAndCancelled()
{
    TestFolder folder;
    folder.addStudents({{"甲", "七(1)班", "1", {}}, {"乙", "七(1)班", "2", {}}});
    Editor editor(folder, classes);
    editor.clickRow(1);
    editor.services.dialogs.confirmAnswers.enqueue(false);
    editor.click("按钮3");
    QCOMPARE(editor.column(1), QStringList({"甲", "乙"}));
    QCOMPARE(folder.storedColumn(u"编号").size(), 2);

    // Nothing listed and nothing loaded: nothing to ask about.
    editor.get<QComboBox>("组合框1")->setCurrentText("空班");
    editor.click("按钮5");
    editor.click("按钮3");
    QCOMPARE(editor.services.dialogs.shown.size(), 1);
}

void RecordEditorTest::steppingStopsAtBothEnds()
{
    TestFolder folder;
    folder.addStudents({{"甲", "七(1)班", "1", {}}, {"乙", "七(1)班", "2", {}}, {"丙", "七(1)班", "3", {}}});
    Editor editor(folder, classes);
    const auto step = [&](const char* button) {
        editor.click(button);
        return editor.selectedRow();
    };
    QCOMPARE(step("按钮1"), 0); // before the first row
    QCOMPARE(editor.shownName(), QString("甲"));
    QCOMPARE(step("按钮2"), 1);
    QCOMPARE(step("按钮2"), 2);
    QCOMPARE(step("按钮2"), 2); // after the last row
    QCOMPARE(editor.shownName(), QString("丙"));
    QCOMPARE(editor.services.context.recordEditor.currentRow, 2);
    QCOMPARE(step("按钮1"), 1);
    QCOMPARE(editor.shownName(), QString("乙"));

    // A selection the user cleared comes back before the step.
    editor.list()->clearSelection();
    QCOMPARE(step("按钮2"), 2);

    // Stepping at the ends keeps unsaved edits of the shown record.
    editor.get<QLineEdit>("编辑框8")->setText("未保存");
    QCOMPARE(step("按钮2"), 2);
    QCOMPARE(editor.get<QLineEdit>("编辑框8")->text(), QString("未保存"));

    editor.get<QComboBox>("组合框1")->setCurrentText("空班");
    editor.click("按钮5");
    QCOMPARE(step("按钮1"), -1);
    QCOMPARE(step("按钮2"), -1);
    QCOMPARE(editor.details(), QStringList(9, QString()));
}

void RecordEditorTest::photoFromFileAndFromMainWindow()
{
    TestFolder folder;
    const QList<int> ids = folder.addStudents({{"甲", "七(1)班", "1", {}}});
    Editor editor(folder, classes);

    editor.click("按钮13"); // cancelled
    QVERIFY(!editor.photoShown());
    QCOMPARE(editor.services.dialogs.last().kind, QString("openPicture"));

    // Without record entry behind it the main window has no photo to give.
    editor.click("按钮10");
    QVERIFY(!editor.photoShown());

    const QByteArray crop = jpegBytes(114, 136, Qt::yellow);
    editor.services.context.entryPhoto = [&] { return crop; };
    editor.click("按钮10");
    QVERIFY(editor.photoShown());
    QCOMPARE(stored(folder, ids[0]).photo, QByteArray()); // only saving stores it
    editor.click("按钮4");
    QCOMPARE(stored(folder, ids[0]).photo, crop);
    QCOMPARE(editor.column(3), QStringList({"有"}));
}

void RecordEditorTest::notAPictureIsRefused()
{
    TestFolder folder;
    const QByteArray photo = jpegBytes(20, 20);
    const QList<int> ids = folder.addStudents({{"甲", "七(1)班", "1", photo}});
    Editor editor(folder, classes);
    editor.services.dialogs.pathAnswers.enqueue(writeFile(folder.path() + "/名单.txt", "姓名,班级\n"));
    editor.services.dialogs.pathAnswers.enqueue(folder.path() + "/不存在.jpg");
    editor.click("按钮13");
    editor.click("按钮13");
    const QStringList messages = editor.services.dialogs.messages();
    QCOMPARE(messages.size(), 2);
    QVERIFY(messages[0].contains("名单.txt"));
    QVERIFY(messages[1].contains("不存在.jpg"));
    QVERIFY(editor.photoShown());
    editor.click("按钮4");
    QCOMPARE(stored(folder, ids[0]).photo, photo);
}

void RecordEditorTest::phonePhotoLoadsAndGoesOnTheCard()
{
    TestFolder folder;
    const QList<int> ids = folder.addStudents({{"甲", "七(1)班", "1", {}}});
    const QByteArray phone = jpegBytes(8000, 6000, Qt::darkRed); // 48 megapixels
    Editor editor(folder, classes);
    editor.services.dialogs.pathAnswers.enqueue(writeFile(folder.path() + "/手机照片.jpg", phone));
    editor.click("按钮13");
    QVERIFY(editor.services.dialogs.messages().isEmpty());
    QVERIFY(editor.photoShown());
    QVERIFY(editor.get<QLabel>("图片框2")->pixmap().width() <= 112);
    editor.click("按钮4");
    QCOMPARE(stored(folder, ids[0]).photo, phone);

    CardLayout layout = CardLayout::load(folder.path());
    const QImage card = CardComposer(layout).compose({"甲", "七(1)班", "1", stored(folder, ids[0]).photo});
    const QColor inFrame = card.pixelColor(layout.photo.x() + 64, layout.photo.y() + 80);
    QVERIFY2(qAbs(inFrame.red() - 128) < 16 && inFrame.green() < 16 && inFrame.blue() < 16,
             qPrintable(inFrame.name()));
}

void RecordEditorTest::pictureBombIsRefused()
{
    TestFolder folder;
    const QByteArray photo = jpegBytes(20, 20);
    const QList<int> ids = folder.addStudents({{"甲", "七(1)班", "1", photo}});
    Editor editor(folder, classes);
    editor.services.dialogs.pathAnswers.enqueue(
        writeFile(folder.path() + "/炸弹.png", pngPromising(20000, 20000)));
    editor.click("按钮13");
    const QStringList messages = editor.services.dialogs.messages();
    QCOMPARE(messages.size(), 1);
    QVERIFY2(messages[0].contains("炸弹.png") && messages[0].contains("图片太大"), qPrintable(messages[0]));
    editor.click("按钮4");
    QCOMPARE(stored(folder, ids[0]).photo, photo);
}

void RecordEditorTest::exportWritesTheListedPhotos()
{
    TestFolder folder;
    const QByteArray first = jpegBytes(20, 20, Qt::red);
    const QByteArray second = jpegBytes(20, 20, Qt::blue);
    const QByteArray slashed = jpegBytes(20, 20, Qt::green);
    folder.addStudents({{"张三", "七(1)班", "1", first},
                        {"张三", "七(1)班", "1", second},
                        {"A/B", "七(1)班", "2", slashed},
                        {"李四", "七(1)班", "3", {}},
                        {"王五", "七(2)班", "4", jpegBytes(8, 8)}});
    // A photo already exported under the name of the student without one stays.
    const QString photos = ProgramFolder::photoFolder(folder.path());
    writeFile(photos + "/七(1)班李四3.jpg", first);
    Editor editor(folder, classes);
    editor.click("按钮8");

    QCOMPARE(editor.services.dialogs.messages(), QStringList({"导出成功"}));
    QCOMPARE(editor.services.shell.openedFolders, QStringList({photos}));
    const QDir dir(photos);
    QCOMPARE(dir.entryList(QDir::Files, QDir::Name),
             QStringList({"七(1)班A_B2.jpg", "七(1)班张三1.jpg", "七(1)班李四3.jpg"}));
    const auto contents = [&](const QString& name) {
        QFile file(dir.filePath(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    QCOMPARE(contents("七(1)班张三1.jpg"), second);
    QCOMPARE(contents("七(1)班A_B2.jpg"), slashed);
    QCOMPARE(contents("七(1)班李四3.jpg"), first);

    // A chosen folder that does not exist yet is made; an empty list still succeeds.
    editor.services.dialogs.pathAnswers.enqueue(folder.path() + "/新相片");
    editor.get<QLineEdit>("目录编辑框1")->findChild<QAction*>("浏览")->trigger();
    QCOMPARE(editor.services.dialogs.last().title, QString("请选择一个文件夹："));
    QCOMPARE(editor.services.dialogs.last().text, photos);
    QCOMPARE(editor.get<QLineEdit>("目录编辑框1")->text(), folder.path() + "/新相片");
    editor.get<QComboBox>("组合框1")->setCurrentText("空班");
    editor.click("按钮5");
    editor.click("按钮8");
    QCOMPARE(editor.services.dialogs.messages().last(), QString("导出成功"));
    QVERIFY(QDir(folder.path() + "/新相片").exists());
}

void RecordEditorTest::exportLeavesTheLoadedRecord()
{
    TestFolder folder;
    const QList<int> ids = folder.addStudents({{"甲", "七(1)班", "1", jpegBytes(8, 8)},
                                               {"乙", "七(1)班", "2", jpegBytes(8, 8)},
                                               {"丙", "七(1)班", "3", {}}});
    Editor editor(folder, classes);
    editor.clickRow(1);
    editor.get<QLineEdit>("编辑框8")->setText("导出后保存");
    editor.click("按钮8");
    QCOMPARE(editor.shownName(), QString("乙"));
    editor.click("按钮4");
    QCOMPARE(stored(folder, ids[1]).texts[6], QString("导出后保存"));
    QCOMPARE(stored(folder, ids[2]).texts[6], QString());

    editor.services.dialogs.confirmAnswers.enqueue(true);
    editor.click("按钮3");
    QVERIFY(!stored(folder, ids[1]).exists);
    QVERIFY(stored(folder, ids[2]).exists);
    QCOMPARE(editor.column(1), QStringList({"甲", "丙"}));
}

void RecordEditorTest::exportFailureIsReported()
{
    TestFolder folder;
    folder.addStudents(
        {{"张三", "七(1)班", "1", jpegBytes(8, 8)}, {"李四", "七(1)班", "2", jpegBytes(8, 8)}});
    Editor editor(folder, classes);
    QVERIFY(QDir(ProgramFolder::photoFolder(folder.path())).mkpath("七(1)班张三1.jpg"));
    editor.click("按钮8");
    QStringList messages = editor.services.dialogs.messages();
    QCOMPARE(messages.size(), 1);
    QVERIFY(messages[0].contains("七(1)班张三1.jpg"));
    QVERIFY(QFile::exists(ProgramFolder::photoFolder(folder.path()) + "/七(1)班李四2.jpg"));

    writeFile(folder.path() + "/文件", "x");
    editor.get<QLineEdit>("目录编辑框1")->setText(folder.path() + "/文件/照片");
    editor.click("按钮8");
    editor.get<QLineEdit>("目录编辑框1")->clear();
    editor.click("按钮8");
    messages = editor.services.dialogs.messages();
    QCOMPARE(messages.size(), 3);
    QVERIFY(messages[1].startsWith("导出失败："));
    QVERIFY(!messages.contains("导出成功"));
    QCOMPARE(editor.services.shell.openedFolders.size(), 1);

    // Listed students whose records can no longer be read are not exported "successfully".
    editor.get<QLineEdit>("目录编辑框1")->setText(folder.path() + "/另一个");
    folder.execute("DROP TABLE 学生");
    editor.click("按钮8");
    QVERIFY(editor.services.dialogs.messages().last().startsWith("有 2 张相片没有导出"));
}

void RecordEditorTest::numbering_data()
{
    QTest::addColumn<int>("students");
    QTest::addColumn<QString>("digits");
    QTest::addColumn<QString>("preview");
    QTest::addColumn<QStringList>("firstNumbers");
    QTest::addColumn<QString>("lastNumber");
    QTest::newRow("3 digits") << 4 << "3"
                              << "001" << QStringList({"2014001", "2014002", "2014003"}) << "2014004";
    QTest::newRow("no digit count") << 3 << ""
                                    << "1" << QStringList({"20141", "20142", "20143"}) << "20143";
    QTest::newRow("not a number") << 2 << "三"
                                  << "1" << QStringList({"20141", "20142"}) << "20142";
    QTest::newRow("thousandth") << 1000 << "3"
                                << "001" << QStringList({"2014001", "2014002"}) << "20141000";
}

void RecordEditorTest::numbering()
{
    QFETCH(int, students);
    QFETCH(QString, digits);
    QFETCH(QString, preview);
    QFETCH(QStringList, firstNumbers);
    QFETCH(QString, lastNumber);
    TestFolder folder;
    QList<TestFolder::Student> list{{"别班", "七(2)班", "keep", {}}};
    for (int i = 0; i < students; ++i)
        list.append({QString("学生%1").arg(i), "七(1)班", "old", {}});
    folder.addStudents(list);
    Editor editor(folder, classes);
    editor.get<QLineEdit>("编辑框2")->setText("2014");
    editor.get<QLineEdit>("编辑框5")->setText(digits);
    QCOMPARE(editor.get<QLineEdit>("编辑框6")->text(), preview);
    editor.click("按钮9");

    QVERIFY(editor.services.dialogs.shown.isEmpty());
    const QStringList numbers = folder.storedColumn(u"编号");
    QCOMPARE(numbers.first(), QString("keep"));
    QCOMPARE(numbers.mid(1, firstNumbers.size()), firstNumbers);
    QCOMPARE(numbers.last(), lastNumber);
    QCOMPARE(editor.column(2), numbers.mid(1));
}

void RecordEditorTest::numberingRenumbersTheWholeClassAfterASearch()
{
    TestFolder folder;
    folder.addStudents({{"甲", "七(1)班", "x", jpegBytes(8, 8)},
                        {"乙", "七(2)班", "y", {}},
                        {"丙", "七(1)班", "z", {}},
                        {"丁", "七(1)班", "w", jpegBytes(8, 8)}});
    Editor editor(folder, classes);
    editor.click("按钮11"); // lists 丙 alone
    editor.get<QLineEdit>("编辑框3")->setText("丁");
    editor.click("按钮7");
    QCOMPARE(editor.column(1), QStringList({"丁"}));
    editor.get<QLineEdit>("编辑框2")->setText("A");
    editor.click("按钮9");
    QCOMPARE(folder.storedColumn(u"编号"), QStringList({"A001", "y", "A002", "A003"}));
    QCOMPARE(editor.column(1), QStringList({"甲", "丙", "丁"}));
    QCOMPARE(editor.get<QLabel>("标签1")->text(), QString("七(1)班数据"));
}

void RecordEditorTest::numberingEveryoneInModeAll()
{
    TestFolder folder;
    folder.addStudents({{"甲", "七(1)班", "x", {}}, {"乙", "七(2)班", "y", {}}, {"丙", "无班级", "z", {}}});
    Editor editor(folder, classes);
    editor.click("按钮6");
    editor.get<QLineEdit>("编辑框3")->setText("乙");
    editor.click("按钮7");
    editor.get<QLineEdit>("编辑框2")->setText("");
    editor.get<QLineEdit>("编辑框5")->setText("2");
    editor.click("按钮9");
    QCOMPARE(folder.storedColumn(u"编号"), QStringList({"01", "02", "03"}));
    QCOMPARE(editor.get<QLabel>("标签1")->text(), QString("所有数据"));
}

void RecordEditorTest::numberingRefreshesTheDetails()
{
    TestFolder folder;
    const QList<int> ids = folder.addStudents({{"甲", "七(1)班", "old", {}}, {"乙", "七(1)班", "old", {}}});
    Editor editor(folder, classes);
    editor.get<QLineEdit>("编辑框2")->setText("2014");
    editor.click("按钮9");
    QCOMPARE(editor.get<QLineEdit>("编辑框4")->text(), QString("2014001"));
    // Saving the shown record right after numbering keeps its new number.
    editor.click("按钮4");
    QCOMPARE(stored(folder, ids[0]).texts[2], QString("2014001"));
    editor.click("按钮2");
    QCOMPARE(editor.get<QLineEdit>("编辑框4")->text(), QString("2014002"));
}

// The student entered first gets the first number, whatever was corrected since; also in an
// archive that still carries the earlier class index, ordered by gender and address.
void RecordEditorTest::numberingFollowsEntryOrderAfterEdits()
{
    TestFolder folder;
    folder.execute("DROP INDEX 学生_班级顺序");
    folder.execute("CREATE INDEX 学生_班级列表 ON 学生(班级,性别,住址,电话,出生年月,选项)");
    folder.addStudents({{"甲", "七(1)班", "", {}},
                        {"乙", "七(1)班", "", {}},
                        {"丁", "七(2)班", "", {}},
                        {"丙", "七(1)班", "", {}}});
    Editor editor(folder, classes);
    const auto correct = [&](int row, const QString& sex, const QString& address) {
        editor.clickRow(row);
        editor.get<QComboBox>("组合框3")->setEditText(sex);
        editor.get<QLineEdit>("编辑框8")->setText(address);
        editor.click("按钮4");
    };
    correct(0, "男", "西街");
    correct(1, "男", "");
    correct(2, "女", "东街");
    QCOMPARE(editor.services.dialogs.messages(), QStringList({"更改成功!", "更改成功!", "更改成功!"}));
    editor.click("按钮5");
    QCOMPARE(editor.column(1), QStringList({"甲", "乙", "丙"}));

    editor.get<QLineEdit>("编辑框2")->setText("2025");
    editor.click("按钮9");
    QCOMPARE(editor.column(1), QStringList({"甲", "乙", "丙"}));
    QCOMPARE(editor.column(2), QStringList({"2025001", "2025002", "2025003"}));
    QCOMPARE(folder.storedColumn(u"姓名"), QStringList({"甲", "乙", "丁", "丙"}));
    QCOMPARE(folder.storedColumn(u"编号"), QStringList({"2025001", "2025002", "", "2025003"}));
}

void RecordEditorTest::missingDatabaseLeavesEverythingEmpty()
{
    TestFolder folder(false);
    Editor editor(folder, classes);
    for (const char* button :
         {"按钮5", "按钮6", "按钮7", "按钮11", "按钮1", "按钮2", "按钮3", "按钮4", "按钮9"})
        editor.click(button);
    QCOMPARE(editor.list()->topLevelItemCount(), 0);
    QCOMPARE(editor.details(), QStringList(9, QString()));
    // Only numbering has something to do, and says what is wrong.
    QCOMPARE(editor.services.dialogs.messages(), QStringList({"编号失败：找不到数据库文件"}));
    QVERIFY(!QFile::exists(folder.databaseFile()));
}

QTEST_MAIN(RecordEditorTest)
#include "tst_recordeditor.moc"
