// SPDX-License-Identifier: GPL-3.0-or-later
// The program as a school installs it: `cmake --install` into a prefix the user cannot
// write (bin/qinghe, lib/qinghe, share/qinghe), started by an ordinary user on a desktop with a window
// manager, whose own archive lies in ~/.local/share/qinghe. The web server started from the main window
// serves that archive on the port of that folder's sys.ini; a class administrator's correction through the
// site shows in the window's record editor.
#include "archive/DatabaseConnection.h"
#include "archive/ProgramFolder.h"
#include "archive/ProgramFolderSetup.h"
#include "archive/Recordset.h"
#include "archive/StudentTable.h"
#include "formats/IniFile.h"
#include "formats/graphics/Fonts.h"
#include "tests/journeys/ProgramOnDesktop.h"
#include "tests/support/ArchiveLocks.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/FreePort.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <grp.h>
#include <pwd.h>
#include <unistd.h>

namespace {

// The user the program runs as: this one, or nobody when the tests run as root.
struct User {
    uid_t uid = getuid();
    gid_t gid = getgid();
};

User programUser()
{
    if (getuid() != 0)
        return {};
    const passwd* nobody = getpwnam("nobody");
    return nobody ? User{nobody->pw_uid, nobody->pw_gid} : User{65534, 65534};
}

QStringList commandLineOf(pid_t pid)
{
    QFile file(QStringLiteral("/proc/%1/cmdline").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList args;
    for (const QByteArray& arg : file.readAll().split('\0'))
        if (!arg.isEmpty())
            args << QString::fromLocal8Bit(arg);
    return args;
}

} // namespace

class InstalledJourney : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { installFontSubstitutes(); }
    void webServerServesTheUsersArchive();
};

void InstalledJourney::webServerServesTheUsersArchive()
{
    const User user = programUser();
    QTemporaryDir dir(QDir::tempPath() + "/青禾-installed-XXXXXX");
    QVERIFY(dir.isValid());
    QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                          | QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther
                                          | QFile::ExeOther);
    const QString prefix = dir.path() + "/opt";
    QProcess install;
    install.start("cmake", {"--install", QINGHE_BUILD_DIR, "--prefix", prefix});
    QVERIFY(install.waitForFinished(120000));
    QVERIFY2(install.exitCode() == 0, install.readAllStandardError().constData());
    // A Linux program: bin/qinghe, its helpers in lib/qinghe, the site's pages in share/qinghe,
    // and no archive anywhere in the prefix.
    const QString executable = prefix + "/bin/qinghe";
    const QString installed = prefix + "/share/qinghe";
    const QString aspProgram = prefix + "/lib/qinghe/asp";
    QVERIFY(QFileInfo(executable).isExecutable());
    QVERIFY(QFileInfo(aspProgram).isExecutable());
    QVERIFY(QFileInfo(prefix + "/lib/qinghe/qinghe-jet-reader").isExecutable());
    QVERIFY(QFileInfo::exists(installed + "/DB/login.asp"));
    for (QDirIterator it(prefix, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories); it.hasNext();)
        QVERIFY2(!it.next().contains("学生信息.mdb"), qPrintable(it.filePath()));
    QList<std::pair<QString, QFile::Permissions>> permissions;
    const auto restore = qScopeGuard([&] {
        for (const auto& [folder, mode] : permissions)
            QFile::setPermissions(folder, mode);
    });
    if (getuid() != 0) { // an installation the user cannot change, as under /usr
        for (const QString& folder :
             {prefix + "/bin", prefix + "/lib/qinghe", installed, installed + "/DB"}) {
            permissions.append({folder, QFile::permissions(folder)});
            QFile::setPermissions(folder,
                                  QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther);
        }
    }

    // The user's own folder, as an earlier start laid it out, holding the user's students.
    const QString home = dir.path() + "/home";
    const QString folder = home + "/.local/share/qinghe";
    QVERIFY(ProgramFolder::layOut(installed, folder));
    const int port = freeLocalPort();
    QVERIFY(IniFile::write(ProgramFolder::settingsFile(folder), u"sys", u"WEB端口", QString::number(port)));
    int studentId = 0;
    {
        DatabaseConnection archive;
        QVERIFY2(StudentTable::openArchive(archive, ProgramFolder::databaseFile(folder)),
                 qPrintable(archive.lastError()));
        Recordset classes;
        classes.attach(archive);
        QVERIFY(classes.open(StudentTable::selectClasses));
        QVERIFY(classes.addNew() && classes.writeText(u"单位", "七(3)班")
                && classes.writeText(u"帐号", "wang") && classes.writeText(u"密码", "pw3")
                && classes.update());
        Recordset students;
        students.attach(archive);
        QVERIFY(students.open(StudentTable::selectAll));
        QVERIFY(students.addNew() && students.writeText(u"姓名", "用户的学生")
                && students.writeText(u"班级", "七(3)班") && students.writeText(u"编号", "2026301")
                && students.update());
        QVERIFY(students.open(StudentTable::selectAll));
        studentId = students.readText(u"id").toInt();
    }
    for (QDirIterator it(home, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                         QDirIterator::Subdirectories);
         it.hasNext();)
        QVERIFY(::chown(QFile::encodeName(it.next()).constData(), user.uid, user.gid) == 0);
    QVERIFY(::chown(QFile::encodeName(home).constData(), user.uid, user.gid) == 0);

    const Desktop desktop;
    QVERIFY2(!desktop.display().isEmpty(), "no X server with a window manager");
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("QINGHE_FOLDER");
    env.insert("HOME", home);
    env.insert("XDG_DATA_HOME", home + "/.local/share");
    ProgramOnDesktop program(desktop, executable, env, [user] {
        if (getuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(user.gid) != 0 || setuid(user.uid) != 0))
            _exit(120);
    });
    QVERIFY2(program.waitForMainWindow(), qPrintable(program.errorOutput()));
    const QString site = ProgramFolder::databaseFolder(folder);
    const auto stopServers = qScopeGuard([&] {
        for (pid_t pid : processesRunning(aspProgram, site))
            ::kill(pid, SIGTERM);
    });

    // 打开网页服务器: the user's classes and students, from the server the window started.
    program.clickInMainWindow("按钮4");
    const QString home_page = site::waitForPage(port, "/index.asp", 15000);
    QVERIFY2(!home_page.isEmpty(), qPrintable(program.errorOutput()));
    desktop.screenshot("installed-1-started");
    QVERIFY2(home_page.contains("七(3)班") && home_page.contains("用户的学生"), qPrintable(home_page));
    const QList<pid_t> servers = processesRunning(aspProgram, site);
    QCOMPARE(servers.size(), 1);
    QVERIFY2(commandLineOf(servers[0]).contains("--background"),
             qPrintable(commandLineOf(servers[0]).join(u' ')));
    expectArchiveLocksHeld(program.pid(), "the window after starting the server");

    // The class administrator logs in and corrects the student's address.
    const std::string session = site::login(port, "wang", "pw3");
    QVERIFY(!session.empty());
    QCOMPARE(site::postEdit(port, session, studentId, {{"T4", "学府路 3 号"}}), 302);
    expectArchiveLocksHeld(servers[0], "the server after an edit");

    // The window's record editor shows the correction.
    QVERIFY(program.openRecordEditor());
    program.findInRecordEditor("2026301");
    QCOMPARE(program.textInRecordEditor("编辑框8"), QString("学府路 3 号"));
    desktop.screenshot("installed-2-record-editor");
    expectArchiveLocksHeld(program.pid(), "the window after reading the edit");
}

QTEST_MAIN(InstalledJourney)
#include "tst_installed.moc"
