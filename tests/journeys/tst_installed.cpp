// SPDX-License-Identifier: GPL-3.0-or-later
// The program as a school installs it: `cmake --install` into a folder the user cannot
// write, started by an ordinary user, whose own archive lies in ~/.local/share/qinghe. The
// web server started from the main window must serve that archive on the port of that
// folder's sys.ini. Runs the real program on an X server of its own and clicks the button.
#include "platform/DatabaseConnection.h"
#include "platform/Gbk.h"
#include "platform/IniFile.h"
#include "platform/ProgramFolder.h"
#include "platform/Recordset.h"
#include "platform/StudentTable.h"

#include <httplib.h>

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <csignal>
#include <fcntl.h>
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

int freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// Processes running `program`, found by their executable.
QList<pid_t> processesOf(const QString& program)
{
    QList<pid_t> found;
    for (const QString& entry : QDir("/proc").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool ok = false;
        const pid_t pid = pid_t(entry.toInt(&ok));
        if (ok && QFile::symLinkTarget("/proc/" + entry + "/exe") == program)
            found << pid;
    }
    return found;
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

std::string form(const QList<std::pair<QString, QString>>& fields)
{
    QByteArray body;
    for (const auto& [name, value] : fields) {
        if (!body.isEmpty())
            body += '&';
        body += gbk::encode(name).toPercentEncoding() + '=' + gbk::encode(value).toPercentEncoding();
    }
    return body.toStdString();
}

// An X server of its own on a free display, for as long as the object lives.
class XServer {
public:
    XServer()
    {
        int ends[2];
        if (pipe(ends) != 0)
            return;
        m_process.setProgram(QStandardPaths::findExecutable("Xvfb"));
        m_process.setArguments(
            {"-displayfd", QString::number(ends[1]), "-screen", "0", "1280x1024x24", "-nolisten", "tcp"});
        m_process.setChildProcessModifier([fd = ends[1]] { fcntl(fd, F_SETFD, 0); });
        m_process.start();
        ::close(ends[1]);
        QByteArray number;
        char c;
        while (::read(ends[0], &c, 1) == 1 && c != '\n')
            number += c;
        ::close(ends[0]);
        if (!number.isEmpty())
            m_display = ":" + QString::fromLatin1(number);
    }
    ~XServer()
    {
        m_process.terminate();
        if (!m_process.waitForFinished(3000))
            m_process.kill();
        m_process.waitForFinished();
    }
    QString display() const { return m_display; }

private:
    QProcess m_process;
    QString m_display;
};

} // namespace

class InstalledTest : public QObject {
    Q_OBJECT

private slots:
    void webServerServesTheUsersArchive();
};

void InstalledTest::webServerServesTheUsersArchive()
{
    for (const char* tool : {"Xvfb", "xdotool"})
        QVERIFY2(!QStandardPaths::findExecutable(tool).isEmpty(), tool);
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
    const QString installed = prefix + "/qinghe";
    QVERIFY(QFileInfo(installed + "/qinghe").isExecutable());
    const auto permissions = QFile::permissions(installed);
    const auto restore = qScopeGuard([&] { QFile::setPermissions(installed, permissions); });
    if (getuid() != 0) // an installation the user cannot change, as under /opt
        QFile::setPermissions(installed,
                              QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther);

    // The user's own folder, as an earlier start laid it out, holding the user's students.
    const QString home = dir.path() + "/home";
    const QString folder = home + "/.local/share/qinghe";
    QVERIFY(ProgramFolder::layOut(installed, folder));
    const int port = freePort();
    QVERIFY(IniFile::write(ProgramFolder::settingsFile(folder), u"sys", u"WEB端口", QString::number(port)));
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
                && students.writeText(u"班级", "七(3)班") && students.update());
    }
    for (QDirIterator it(home, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                         QDirIterator::Subdirectories);
         it.hasNext();)
        QVERIFY(::chown(QFile::encodeName(it.next()).constData(), user.uid, user.gid) == 0);
    QVERIFY(::chown(QFile::encodeName(home).constData(), user.uid, user.gid) == 0);

    const XServer x;
    QVERIFY(!x.display().isEmpty());
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("QINGHE_FOLDER");
    env.insert("HOME", home);
    env.insert("XDG_DATA_HOME", home + "/.local/share");
    env.insert("DISPLAY", x.display());
    env.insert("QT_QPA_PLATFORM", "xcb");
    program.setProcessEnvironment(env);
    program.setChildProcessModifier([user] {
        if (getuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(user.gid) != 0 || setuid(user.uid) != 0))
            _exit(120);
    });
    program.start(installed + "/qinghe", {});
    QVERIFY(program.waitForStarted(5000));

    const auto xdotool = [&x](const QStringList& args) {
        QProcess tool;
        QProcessEnvironment toolEnv = QProcessEnvironment::systemEnvironment();
        toolEnv.insert("DISPLAY", x.display());
        tool.setProcessEnvironment(toolEnv);
        tool.start("xdotool", args);
        tool.waitForFinished(20000);
        return QString::fromLatin1(tool.readAllStandardOutput()).trimmed();
    };
    const QString window =
        xdotool({"search", "--sync", "--onlyvisible", "--name", "青禾名录"}).section(u'\n', 0, 0);
    QVERIFY2(!window.isEmpty(), program.readAllStandardError().constData());
    QThread::msleep(500); // drawn and taking input
    // 打开网页服务器, below the menu bar.
    xdotool({"mousemove", "--window", window, "248", "644", "click", "1"});

    httplib::Client client("127.0.0.1", port);
    client.set_connection_timeout(1);
    QElapsedTimer waited;
    waited.start();
    auto home_page = client.Get("/index.asp");
    while (!home_page && waited.elapsed() < 15000) {
        QThread::msleep(100);
        home_page = client.Get("/index.asp");
    }
    const QString aspProgram = installed + "/DB/asp";
    const QList<pid_t> servers = processesOf(aspProgram);
    const auto stopServers = qScopeGuard([&] {
        for (pid_t pid : servers)
            ::kill(pid, SIGTERM);
        program.kill();
        program.waitForFinished();
    });
    QVERIFY2(home_page, qPrintable(program.readAllStandardError()));
    QCOMPARE(servers.size(), 1);
    const QStringList args = commandLineOf(servers[0]);
    QVERIFY2(args.contains(ProgramFolder::databaseFolder(folder)), qPrintable(args.join(u' ')));

    // The users's classes and students, and the class administrator's login.
    QCOMPARE(home_page->status, 200);
    const QString page = gbk::decode(QByteArray::fromStdString(home_page->body));
    QVERIFY2(page.contains("七(3)班") && page.contains("用户的学生"), qPrintable(page));
    const auto login =
        client.Post("/login.asp", form({{"zh", "wang"}, {"mm", "pw3"}}), "application/x-www-form-urlencoded");
    QVERIFY(login);
    QCOMPARE(login->status, 302);
    const std::string cookie = login->get_header_value("Set-Cookie");
    const auto list = client.Get("/login.asp", {{"Cookie", cookie.substr(0, cookie.find(';'))}});
    QVERIFY(list);
    QVERIFY(gbk::decode(QByteArray::fromStdString(list->body)).contains("用户的学生"));
}

QTEST_GUILESS_MAIN(InstalledTest)
#include "tst_installed.moc"
