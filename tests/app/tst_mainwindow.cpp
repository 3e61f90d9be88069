// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/MainWindow.h"
#include "archive/ProgramFolder.h"
#include "formats/IniFile.h"
#include "tests/support/Controls.h"
#include "tests/support/TestFolder.h"
#include "tests/support/TestServices.h"

#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTableWidget>
#include <QTest>

class MainWindowTest : public QObject {
    Q_OBJECT

private slots:
    void emptyClassTableLeavesSelectorsEmpty();
    void threeClassesInStoredOrder();
    void missingDatabaseStillOpens();
    void classListRebuiltRefillsSelectors();
    void layoutMatchesTheWindowDefinition();
    void webAddressShownAndOpened();
    void webServerStartedOnlyWhenPresent();
    void webAddressFollowsThePortOfSysIni();
};

void MainWindowTest::emptyClassTableLeavesSelectorsEmpty()
{
    TestFolder folder;
    TestServices services;
    MainWindow window(services.context);
    QCOMPARE(services.context.appFolder, folder.path());
    QVERIFY(services.context.classList.isEmpty());
    for (const char* name : {"编辑框2", "组合框1"}) {
        QCOMPARE(control<QComboBox>(window, name)->count(), 0);
        QCOMPARE(control<QComboBox>(window, name)->currentIndex(), -1);
    }
}

void MainWindowTest::threeClassesInStoredOrder()
{
    TestFolder folder;
    folder.addClasses({"七(2)班", "O'Neil班", "七(1)班"});
    TestServices services;
    MainWindow window(services.context);
    const QStringList expected{"七(2)班", "O'Neil班", "七(1)班"};
    QCOMPARE(services.context.classList, expected);
    for (const char* name : {"编辑框2", "组合框1"}) {
        QComboBox* box = control<QComboBox>(window, name);
        QCOMPARE(comboItems(box), expected);
        QCOMPARE(box->currentIndex(), 0);
        QCOMPARE(box->currentText(), QString("七(2)班"));
    }
}

void MainWindowTest::missingDatabaseStillOpens()
{
    TestFolder folder(false);
    TestServices services;
    MainWindow window(services.context);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(services.context.classList.isEmpty());
    QCOMPARE(control<QComboBox>(window, "编辑框2")->count(), 0);
    QVERIFY(!QFile::exists(folder.databaseFile()));
}

void MainWindowTest::classListRebuiltRefillsSelectors()
{
    TestFolder folder;
    folder.addClasses({"一班"});
    TestServices services;
    MainWindow window(services.context);
    services.context.setClassList({"三班", "四班"});
    QCOMPARE(comboItems(control<QComboBox>(window, "编辑框2")), QStringList({"三班", "四班"}));
    QCOMPARE(comboItems(control<QComboBox>(window, "组合框1")), QStringList({"三班", "四班"}));
    QCOMPARE(control<QComboBox>(window, "组合框1")->currentIndex(), 0);
}

void MainWindowTest::layoutMatchesTheWindowDefinition()
{
    TestFolder folder;
    TestServices services;
    MainWindow window(services.context);
    QCOMPARE(window.windowTitle(), QString("青禾名录"));
    QCOMPARE(window.size(), QSize(887, 732));
    QCOMPARE(control<QWidget>(window, "画板1")->geometry(), QRect(470, 56, 360, 250));
    QCOMPARE(control<QWidget>(window, "图片框1")->geometry(), QRect(16, 24, 114, 136)); // inside the panel
    QCOMPARE(control<QWidget>(window, "图片框1")->parentWidget()->objectName(), QString("图片框4"));
    QCOMPARE(control<QPushButton>(window, "按钮1")->text(), QString("拍         照"));
    QTableWidget* roster = control<QTableWidget>(window, "数据列表框");
    QVERIFY(!roster->isEnabled());
    QCOMPARE(roster->columnCount(), 3);
    QCOMPARE(roster->horizontalHeaderItem(0)->text(), QString("单位"));
    QCOMPARE(roster->columnWidth(2), 150);
    const auto menus = window.menuBar()->actions();
    QCOMPARE(menus.size(), 1);
    QCOMPARE(menus[0]->text(), QString("编辑设置"));
    QStringList itemTexts;
    for (QAction* action : menus[0]->menu()->actions())
        itemTexts << action->text();
    QCOMPARE(itemTexts,
             QStringList({"证件设计", "数据管理", "数据库管理", "班级管理员", "WEB设置", "照片规格"}));
}

void MainWindowTest::webAddressShownAndOpened()
{
    TestFolder folder;
    TestServices services;
    MainWindow window(services.context);
    QLabel* label = control<QLabel>(window, "透明标签5");
    QCOMPARE(label->text(), QString("WEB网址：http://192.168.1.10"));
    services.shell.address = "10.0.0.7"; // asked again at the click
    QTest::mouseClick(label, Qt::RightButton);
    QVERIFY(services.shell.openedUrls.isEmpty());
    QTest::mouseClick(label, Qt::LeftButton);
    QCOMPARE(services.shell.openedUrls, QStringList({"http://10.0.0.7"}));
    QVERIFY(services.dialogs.messages().isEmpty());

    // Another port is part of the address; a desktop without a browser says so.
    QFile settings(folder.settingsFile());
    QVERIFY(settings.open(QIODevice::WriteOnly));
    settings.write("[sys]\r\nWEB\xb6\xcb\xbf\xda=8080\r\n"); // WEB端口 in GBK
    settings.close();
    services.shell.browserFound = false;
    QTest::mouseClick(label, Qt::LeftButton);
    QCOMPARE(services.shell.openedUrls.last(), QString("http://10.0.0.7:8080"));
    QCOMPARE(services.dialogs.messages(),
             QStringList({"找不到可以打开网页的浏览器。请在浏览器中输入这个网址：http://10.0.0.7:8080"}));
}

void MainWindowTest::webServerStartedOnlyWhenPresent()
{
    TestFolder folder;
    TestServices services;
    MainWindow window(services.context);
    QPushButton* start = control<QPushButton>(window, "按钮4");
    QStatusBar* status = control<QStatusBar>(window, "状态条1");
    start->click();
    QVERIFY(services.shell.startedPrograms.isEmpty());
    QCOMPARE(services.dialogs.messages().size(), 1);
    QVERIFY(services.dialogs.messages()[0].startsWith("找不到网页服务器程序"));
    QCOMPARE(status->currentMessage(), services.dialogs.messages()[0]);

    const QString server = ProgramFolder::webServerProgram(folder.path());
    QFile file(server);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("#!/bin/sh\n");
    file.close();
    file.setPermissions(file.permissions() | QFile::ExeOwner);
    start->click();
    QCOMPARE(services.shell.startedPrograms, QStringList({server}));
    const QString site = ProgramFolder::databaseFolder(folder.path());
    QCOMPARE(services.shell.startedArguments.last(),
             QStringList({"--root", site, "--port", "80", "--background"}));
    QCOMPARE(status->currentMessage(), QString("网页服务器已启动：http://192.168.1.10"));
    // The window goes on painting while the server answers.
    QVERIFY(services.shell.lastRunThread && services.shell.lastRunThread != window.thread());
    // The folder's own port, also when the server is the installed one.
    QVERIFY(IniFile::write(folder.settingsFile(), u"sys", u"WEB端口", u"8123"));
    start->click();
    QCOMPARE(services.shell.startedArguments.last(),
             QStringList({"--root", site, "--port", "8123", "--background"}));
    QCOMPARE(services.dialogs.messages().size(), 1);
    QCOMPARE(status->currentMessage(), QString("网页服务器已启动：http://192.168.1.10:8123"));
    QCOMPARE(control<QLabel>(window, "透明标签5")->text(), QString("WEB网址：http://192.168.1.10:8123"));

    // A port it cannot take is told with the server's own reason.
    services.shell.programResult = {true, 3, {}, "端口 80 已被其他程序占用。\n"};
    start->click();
    QCOMPARE(services.dialogs.messages().last(), QString("网页服务器没有启动：端口 80 已被其他程序占用。"));
    QCOMPARE(status->currentMessage(), services.dialogs.messages().last());
}

void MainWindowTest::webAddressFollowsThePortOfSysIni()
{
    TestFolder folder;
    TestServices services;
    MainWindow window(services.context);
    QLabel* label = control<QLabel>(window, "透明标签5");
    // Written whole (a new file takes the name) and then changed again in place, as an
    // editor may do; the label follows both without a restart.
    QVERIFY(IniFile::write(folder.settingsFile(), u"sys", u"WEB端口", u"8080"));
    QTRY_COMPARE(label->text(), QString("WEB网址：http://192.168.1.10:8080"));
    QFile settings(folder.settingsFile());
    QVERIFY(settings.open(QIODevice::ReadWrite | QIODevice::Truncate));
    settings.write("[sys]\r\nWEB\xb6\xcb\xbf\xda=8081\r\n"); // WEB端口 in GBK
    settings.close();
    QTRY_COMPARE(label->text(), QString("WEB网址：http://192.168.1.10:8081"));
}

QTEST_MAIN(MainWindowTest)
#include "tst_mainwindow.moc"
