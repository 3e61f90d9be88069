// SPDX-License-Identifier: GPL-3.0-or-later
#include "archive/DatabaseConnection.h"
#include "archive/ProgramFolder.h"
#include "archive/Recordset.h"
#include "archive/StudentTable.h"
#include "formats/Gbk.h"
#include "formats/IniFile.h"
#include "tests/support/Controls.h"
#include "tests/support/TestFolder.h"
#include "tests/support/TestServices.h"
#include "web/SitePages.h"
#include "web/WebSettingsWindow.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <memory>

namespace {

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Every column of every student, bytes included, as another program would read them.
QList<QVariantList> everyField(const QString& databaseFile)
{
    DatabaseConnection connection;
    connection.openDatabaseFile(databaseFile);
    Recordset records;
    records.attach(connection);
    records.open(StudentTable::selectAll);
    QList<QVariantList> rows;
    for (int i = 0; i < records.recordCount(); ++i, records.moveNext()) {
        QVariantList row;
        for (int c = 0; c < records.fieldCount(); ++c) {
            const QString name = records.fieldName(c);
            if (name == u"照片" || name == u"简介")
                row << records.readBytes(name);
            else
                row << records.readText(name);
        }
        rows << row;
    }
    return rows;
}

} // namespace

class WebSettingsTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void windowAsDefined();
    void opensWithTheStoredSettings_data();
    void opensWithTheStoredSettings();
    void saveWritesThePagesThenTheSettings();
    void pageFailureIsReportedAndKeepsTheSettings();
    void clearingEmptiesOnlyTheOptions();
    void clearingWithoutDatabaseIsReported();

private:
    WebSettingsWindow& open();
    QLineEdit* edit(const char* name) const { return control<QLineEdit>(*m_window, name); }
    void click(const char* name) const { control<QPushButton>(*m_window, name)->click(); }

    std::unique_ptr<TestFolder> m_folder;
    std::unique_ptr<TestServices> m_services;
    std::unique_ptr<WebSettingsWindow> m_window;
};

void WebSettingsTest::init()
{
    m_folder = std::make_unique<TestFolder>();
    m_services = std::make_unique<TestServices>();
    m_services->context.appFolder = m_folder->path();
}

void WebSettingsTest::cleanup()
{
    m_window.reset();
    m_services.reset();
    m_folder.reset();
}

WebSettingsWindow& WebSettingsTest::open()
{
    m_window = std::make_unique<WebSettingsWindow>(m_services->context);
    return *m_window;
}

void WebSettingsTest::windowAsDefined()
{
    const WebSettingsWindow& window = open();
    QCOMPARE(window.windowTitle(), QString("WEB设置"));
    QCOMPARE(window.size(), QSize(447, 250));
    QCOMPARE(control<QLabel>(window, "标签1")->text(), QString("主页标题"));
    QCOMPARE(control<QLabel>(window, "标签2")->text(), QString("学生选项"));
    QCOMPARE(control<QLabel>(window, "标签3")->text(), QString("中间用“|”隔开"));
    QCOMPARE(control<QLabel>(window, "标签3")->geometry(), QRect(88, 123, 104, 16));
    QCOMPARE(edit("编辑框1")->geometry(), QRect(160, 32, 184, 30));
    QCOMPARE(edit("编辑框2")->geometry(), QRect(120, 80, 280, 30));
    QCOMPARE(control<QPushButton>(window, "按钮2")->text(), QString("数据库中“学生选项”清空"));
    QCOMPARE(control<QPushButton>(window, "按钮2")->geometry(), QRect(192, 120, 200, 32));
    QCOMPARE(control<QPushButton>(window, "按钮1")->text(), QString("保存"));
    QCOMPARE(control<QPushButton>(window, "按钮1")->geometry(), QRect(172, 168, 96, 32));
}

void WebSettingsTest::opensWithTheStoredSettings_data()
{
    QTest::addColumn<QByteArray>("settings");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("options");
    QTest::newRow("no settings file") << QByteArray() << SitePages::defaultTitle << SitePages::defaultOptions;
    QTest::newRow("stored") << QByteArray("[sys]\r\nWEB标题=青禾中学\r\n学生选项=甲|乙\r\n") << "青禾中学"
                            << "甲|乙";
    QTest::newRow("stored empty") << QByteArray("[sys]\r\nWEB标题=\r\n学生选项=\r\n") << ""
                                  << "";
}

void WebSettingsTest::opensWithTheStoredSettings()
{
    QFETCH(QByteArray, settings);
    QFETCH(QString, title);
    QFETCH(QString, options);
    if (!settings.isEmpty()) {
        QFile file(m_folder->settingsFile());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(gbk::encode(QString::fromUtf8(settings)));
    }
    open();
    QCOMPARE(edit("编辑框1")->text(), title);
    QCOMPARE(edit("编辑框2")->text(), options);
    // Opening generates nothing.
    QVERIFY(!QFile::exists(ProgramFolder::databaseFolder(m_folder->path()) + "/index.asp"));
}

void WebSettingsTest::saveWritesThePagesThenTheSettings()
{
    open();
    const QString title = QStringLiteral("青禾中学 <学生>");
    const QString options = QStringLiteral("三好学生|\"优秀\"团员");
    edit("编辑框1")->setText(title);
    edit("编辑框2")->setText(options);
    click("按钮1");
    QCOMPARE(m_services->dialogs.messages(), QStringList{"保存成功！"});
    const QString db = ProgramFolder::databaseFolder(m_folder->path());
    QCOMPARE(readFile(db + "/index.asp"), SitePages::homePage(title));
    QCOMPARE(readFile(db + "/h2.asp"), SitePages::editPage(options));
    QCOMPARE(IniFile::read(m_folder->settingsFile(), u"sys", u"WEB标题"), title);
    QCOMPARE(IniFile::read(m_folder->settingsFile(), u"sys", u"学生选项"), options);

    // A window opened later shows what was saved, and saving it again changes no byte.
    const QByteArray home = readFile(db + "/index.asp");
    open();
    QCOMPARE(edit("编辑框1")->text(), title);
    click("按钮1");
    QCOMPARE(readFile(db + "/index.asp"), home);
}

void WebSettingsTest::pageFailureIsReportedAndKeepsTheSettings()
{
    const QString db = ProgramFolder::databaseFolder(m_folder->path());
    QVERIFY(QDir(db).removeRecursively());
    QFile blocker(db); // a file where the folder should be
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    open();
    edit("编辑框1")->setText(QStringLiteral("新标题"));
    click("按钮1");
    QCOMPARE(m_services->dialogs.shown.size(), 1);
    QVERIFY2(m_services->dialogs.last().text.startsWith(u"保存失败："),
             qPrintable(m_services->dialogs.last().text));
    QVERIFY(!QFile::exists(m_folder->settingsFile()));
}

void WebSettingsTest::clearingEmptiesOnlyTheOptions()
{
    m_folder->addStudents({{"张三", "七(1)班", "2014001", jpegBytes(40, 50)},
                           {"李四", "七(2)班", "2014002", {}},
                           {"王五", "七(2)班", "2014003", jpegBytes(40, 50, Qt::red)}});
    m_folder->execute("UPDATE 学生 SET 性别='男', 住址='青禾路1号', 电话='12345', 出生年月='2010.9', "
                      "简介=X'C4E3BAC3', 选项='三好学生' WHERE id=1");
    m_folder->execute("UPDATE 学生 SET 选项='优秀团员', 性别='女' WHERE id=2");
    const QList<QVariantList> before = everyField(m_folder->databaseFile());

    open();
    click("按钮2");
    QCOMPARE(m_services->dialogs.messages(), QStringList{"清理成功！"});
    QCOMPARE(m_folder->storedColumn(u"选项"), QStringList({"", "", ""}));
    QList<QVariantList> after = everyField(m_folder->databaseFile());
    QList<QVariantList> expected = before;
    const int optionColumn = 10;
    for (QVariantList& row : expected)
        row[optionColumn] = QString();
    QCOMPARE(after, expected);
}

void WebSettingsTest::clearingWithoutDatabaseIsReported()
{
    QVERIFY(QFile::remove(m_folder->databaseFile()));
    open();
    click("按钮2");
    QCOMPARE(m_services->dialogs.shown.size(), 1);
    QVERIFY2(m_services->dialogs.last().text.startsWith(u"清理失败："),
             qPrintable(m_services->dialogs.last().text));
    QVERIFY(!QFile::exists(m_folder->databaseFile()));
}

QTEST_MAIN(WebSettingsTest)
#include "tst_websettings.moc"
