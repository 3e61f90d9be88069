// SPDX-License-Identifier: GPL-3.0-or-later
// A web day: the office starts the web server from the main window, parents and teachers
// look the class up in a browser, a class administrator corrects a student through the
// site, the office sees the correction in the record editor and changes a student there,
// and the class page keeps its order. The real program on a desktop of its own, the real
// asp it starts, a real browser.
#include "archive/ProgramFolder.h"
#include "formats/IniFile.h"
#include "formats/graphics/Fonts.h"
#include "tests/journeys/ProgramOnDesktop.h"
#include "tests/support/ArchiveLocks.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/FreePort.h"
#include "tests/support/TestFolder.h"
#include "web/SitePages.h"

#include <QFile>
#include <QScopeGuard>
#include <QTest>

#include <csignal>

namespace {

// The rows of the page where the student blocks lie: their grey table background.
QRect studentBlocks(const QImage& page)
{
    int top = -1, bottom = -1;
    for (int y = 0; y < page.height(); ++y) {
        int grey = 0;
        for (int x = 0; x < page.width(); x += 4)
            grey += page.pixel(x, y) == qRgb(0xcc, 0xcc, 0xcc);
        if (grey > page.width() / 16) {
            top = top < 0 ? y : top;
            bottom = y;
        }
    }
    return top < 0 ? QRect() : QRect(0, top, page.width(), bottom - top + 1);
}

} // namespace

class WebDayJourney : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { installFontSubstitutes(); }
    void webDay();
};

void WebDayJourney::webDay()
{
    TestFolder folder;
    folder.addClasses({"七(1)班", "七(2)班"});
    folder.execute("UPDATE 设置 SET 帐号='wang', 密码='pw1' WHERE 单位='七(1)班'");
    const QStringList names{"赵一", "钱二", "孙三"};
    const QList<int> ids = folder.addStudents({{names[0], "七(1)班", "2026001", jpegBytes(120, 150)},
                                               {names[1], "七(1)班", "2026002", jpegBytes(120, 150)},
                                               {names[2], "七(1)班", "2026003", jpegBytes(120, 150)},
                                               {"李四", "七(2)班", "2026004", {}}});
    folder.execute("UPDATE 学生 SET 性别='男'");
    const QString db = ProgramFolder::databaseFolder(folder.path());
    for (const char* file : {"login.asp", "show.asp", "up.asp", "print.js", "nophoto.png"})
        QVERIFY(QFile::copy(QStringLiteral(QINGHE_SITE_FOLDER "/") + QLatin1String(file), db + u'/' + file));
    QVERIFY(SitePages::write(folder.path(), SitePages::defaultTitle, SitePages::defaultOptions));
    const int port = freeLocalPort();
    QVERIFY(IniFile::write(folder.settingsFile(), u"sys", u"WEB端口", QString::number(port)));

    const Desktop desktop;
    QVERIFY2(!desktop.display().isEmpty(), "no X server with a window manager");
    ProgramOnDesktop program(desktop, QStringLiteral(QINGHE_EXECUTABLE),
                             QProcessEnvironment::systemEnvironment());
    QVERIFY2(program.waitForMainWindow(), qPrintable(program.errorOutput()));
    // The server outlives the window, as it does at school; the test stops it.
    const auto stopServers = qScopeGuard([&db] {
        for (pid_t pid : processesRunning(QStringLiteral(QINGHE_ASP_PROGRAM), db))
            ::kill(pid, SIGTERM);
    });

    // 打开网页服务器: the class page answers, and the status line says where.
    const QImage statusBefore = program.mainWindowControl("状态条1");
    program.clickInMainWindow("按钮4");
    const QString home = site::waitForPage(port, "/index.asp", 15000);
    QVERIFY2(!home.isEmpty(), "the server the window started does not answer");
    QCOMPARE(inPageOrder(home, names), names);
    // The status line is written once the starting command has returned, a moment later.
    const int before = darkPixels(statusBefore, statusBefore.rect());
    QTRY_VERIFY2_WITH_TIMEOUT(darkPixels(program.mainWindowControl("状态条1"), statusBefore.rect())
                                  > before + 50,
                              "the status line says nothing after the click", 10000);
    desktop.screenshot("webday-1-started");
    expectArchiveLocksHeld(program.pid(), "the window after starting the server");
    const QList<pid_t> servers = processesRunning(QStringLiteral(QINGHE_ASP_PROGRAM), db);
    QCOMPARE(servers.size(), 1);

    // The page as a browser draws it: the names are there to read, not a blank page.
    const QString address = QStringLiteral("http://127.0.0.1:%1/index.asp").arg(port);
    const QImage shown = browserScreenshot(address);
    QVERIFY2(!shown.isNull(), "Chromium showed nothing");
    keepForAPerson(shown, "webday-2-class-page");
    const QRect blocks = studentBlocks(shown);
    QVERIFY2(blocks.height() > 150, "no student blocks on the page");
    QVERIFY2(darkPixels(shown, blocks) > 1000, "the student blocks hold no text");

    // The class administrator logs in and corrects 钱二's address through the edit page.
    const std::string session = site::login(port, "wang", "pw1");
    QVERIFY(!session.empty());
    QCOMPARE(site::postEdit(port, session, ids[1],
                            {{"S1", ""},
                             {"T4", "人民路 8 号"},
                             {"T5", "13800000002"},
                             {"D2", "无"},
                             {"T6", names[1]},
                             {"D1", "男"},
                             {"T3", "2013-05"},
                             {"B1", "提交"}}),
             302);
    expectArchiveLocksHeld(servers[0], "the server after an edit");

    // The office sees the correction in the record editor.
    QVERIFY(program.openRecordEditor());
    program.findInRecordEditor("2026002");
    QCOMPARE(program.textInRecordEditor("编辑框8"), QString("人民路 8 号"));
    desktop.screenshot("webday-3-record-editor");
    expectArchiveLocksHeld(program.pid(), "the window after reading the edit");

    // The office changes the first student's gender; the class page keeps its order.
    program.clickInRecordEditor("按钮5");
    QCOMPARE(program.textInRecordEditor("编辑框1"), names[0]);
    program.chooseInRecordEditor("组合框3", 1); // 女
    program.clickInRecordEditor("按钮4");
    QVERIFY(program.acknowledgeMessage());
    QCOMPARE(folder.storedColumn(u"性别"), QStringList({"女", "男", "男", "男"}));
    expectArchiveLocksHeld(program.pid(), "the window after saving a change");
    const QString after = site::page(port, "/index.asp");
    desktop.screenshot("webday-4-after-gender");
    expectArchiveLocksHeld(servers[0], "the server after the class page");
    QCOMPARE(inPageOrder(after, names), names);
}

QTEST_MAIN(WebDayJourney)
#include "tst_webday.moc"
