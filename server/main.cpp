// SPDX-License-Identifier: GPL-3.0-or-later
// asp [--port N] [--root FOLDER] [--background]: the site's web server. It serves the folder
// it lies in when that is a program folder's DB/ (else the user's folder's DB/) on every
// local address, at [sys] WEB端口 of the program folder's sys.ini (80 when unset), until SIGTERM. With
// --background it detaches from the program that started it, which learns from its exit code and output
// whether the site is served.
#include "archive/DatabaseConnection.h"
#include "archive/ProgramFolder.h"
#include "archive/ProgramFolderSetup.h"
#include "archive/StudentTable.h"
#include "server/SiteServer.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <malloc.h>
#include <optional>
#include <pthread.h>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

namespace {

enum ExitCode { Served = 0, Failed = 1, Usage = 2, PortInUse = 3, NoPermission = 4 };

const QString usage = QStringLiteral(
    "用法：asp [--port 端口] [--root 网站文件夹] [--background]\n"
    "青禾名录的网页服务器：在本机的每个地址上提供网站文件夹里的网页，直到收到 SIGTERM 或 Ctrl+C。\n"
    "\n"
    "  --port 端口          使用这个端口；不给时用网站文件夹上一级 sys.ini 中 [sys] 的 WEB端口，\n"
    "                       没有设定时用 80\n"
    "  --root 网站文件夹    提供这个文件夹的网页；不给时是 asp 所在的文件夹（程序文件夹的 DB/），\n"
    "                       安装的程序则是用户的 ~/.local/share/qinghe/DB\n"
    "  --background         占用端口后转入后台运行：成功返回 0，端口被其他程序占用返回 3，\n"
    "                       没有使用端口的权限返回 4，其他失败返回 1\n"
    "  -h, --help           显示本说明\n"
    "  -v, --version        显示版本\n");

void say(FILE* stream, const QString& text)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

// The folder it lies in when that holds the site, as in a program folder's DB/; an installed
// server lies among the programs and serves the user's own folder.
QString defaultRoot()
{
    const QString own = QFileInfo(QFile::symLinkTarget(QStringLiteral("/proc/self/exe"))).absolutePath();
    if (QFileInfo::exists(own + QStringLiteral("/login.asp")))
        return own;
    return ProgramFolder::databaseFolder(ProgramFolder::userFolder());
}

struct Settings {
    QString root;
    int port = -1;
    bool background = false;
};

// Reads the arguments; answers --help and --version, and refuses what it does not know,
// before anything else happens.
std::optional<Settings> readArguments(int argc, char* argv[], int* exitCode)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    QCommandLineParser parser;
    const QCommandLineOption port(QStringLiteral("port"), QString(), QStringLiteral("端口"));
    const QCommandLineOption root(QStringLiteral("root"), QString(), QStringLiteral("网站文件夹"));
    const QCommandLineOption background(QStringLiteral("background"));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringList{QStringLiteral("v"), QStringLiteral("version")});
    parser.addOptions({port, root, background, help, version});
    *exitCode = Usage;
    QString wrong;
    if (!parser.parse(arguments)) {
        // Short of an unknown option, only a value missing at the end stops the parser.
        const QStringList unknown = parser.unknownOptionNames();
        wrong = unknown.isEmpty() ? QStringLiteral("%1 后面缺少值").arg(arguments.last())
                                  : QStringLiteral("不认识的参数“%1%2”")
                                        .arg(unknown.first().size() == 1 ? "-" : "--", unknown.first());
    } else if (!parser.positionalArguments().isEmpty()) {
        wrong = QStringLiteral("不认识的参数“%1”").arg(parser.positionalArguments().first());
    }
    if (!wrong.isEmpty()) {
        say(stderr, QStringLiteral("asp：") + wrong + u'\n' + usage);
        return std::nullopt;
    }
    if (parser.isSet(help) || parser.isSet(version)) {
        say(stdout, parser.isSet(help) ? usage : QStringLiteral("asp " QINGHE_VERSION));
        *exitCode = Served;
        return std::nullopt;
    }
    Settings settings;
    settings.background = parser.isSet(background);
    settings.root = parser.isSet(root) ? QDir(parser.value(root)).absolutePath() : defaultRoot();
    if (parser.isSet(port)) {
        bool ok = false;
        settings.port = parser.value(port).toInt(&ok);
        if (!ok || settings.port < 0 || settings.port > 65535) {
            say(stderr, QStringLiteral("端口必须是 0 到 65535 之间的整数"));
            return std::nullopt;
        }
    }
    return settings;
}

// A server started with --background tells the program that started it, over this pipe,
// whether it holds its port; in the foreground it says so on its own output.
int answerPipe = -1;

// Says how the start went. A detached server sends the answer to its waiting parent and
// then lets go of the parent's output; when nobody was left to hear it, the site must not
// be served by a process nobody knows of.
ExitCode answer(ExitCode code, const QString& text)
{
    if (answerPipe < 0) {
        say(code == Served ? stdout : stderr, text);
        return code;
    }
    const QByteArray message = char(code) + text.toLocal8Bit();
    qsizetype sent = 0;
    while (sent < message.size()) {
        const ssize_t n = ::write(answerPipe, message.constData() + sent, size_t(message.size() - sent));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        sent += n;
    }
    ::close(answerPipe);
    answerPipe = -1;
    if (const int null = ::open("/dev/null", O_RDWR); null >= 0) {
        for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO})
            ::dup2(null, fd);
        if (null > STDERR_FILENO)
            ::close(null);
    }
    return sent == message.size() ? code : Failed;
}

// Whatever the starting program left open (a window's X connection, its sound server's
// sockets, files) would stay open for as long as the site is served.
void closeInheritedDescriptors(int keep)
{
    const auto closeBetween = [](int first, int last) {
        if (first > last || close_range(unsigned(first), unsigned(last), 0) == 0)
            return;
        for (int fd = first; fd <= last; ++fd)
            ::close(fd);
    };
    const int last = int(std::min<long>(sysconf(_SC_OPEN_MAX), 1L << 20)) - 1;
    if (keep > STDERR_FILENO) {
        closeBetween(STDERR_FILENO + 1, keep - 1);
        closeBetween(keep + 1, last);
    } else {
        closeBetween(STDERR_FILENO + 1, last);
    }
}

// Leaves the program that started us before any thread exists: fork() keeps only the
// calling thread, so a server that had started its workers would accept and never serve.
// The parent waits only for the child's answer and exits with it.
void detach()
{
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        say(stderr, QStringLiteral("网页服务器无法转入后台运行"));
        std::exit(Failed);
    }
    const pid_t child = fork();
    if (child < 0) {
        say(stderr, QStringLiteral("网页服务器无法转入后台运行"));
        std::exit(Failed);
    }
    if (child > 0) {
        ::close(ends[1]);
        QByteArray message;
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::read(ends[0], buffer, sizeof buffer);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            message.append(buffer, n);
        }
        if (message.isEmpty()) {
            say(stderr, QStringLiteral("网页服务器启动时意外退出"));
            std::_Exit(Failed);
        }
        const auto code = ExitCode(message[0]);
        say(code == Served ? stdout : stderr, QString::fromLocal8Bit(message.mid(1)));
        std::_Exit(code);
    }
    ::close(ends[0]);
    setsid();
    closeInheritedDescriptors(ends[1]);
    answerPipe = ends[1];
}

} // namespace

int main(int argc, char* argv[])
{
    DatabaseConnection::prepareForManyThreads();
    // Every request allocates and frees its page and its answer, tens of KB. Giving the freed
    // top of a thread's heap back to the system at once, as by default, makes the next request
    // fault the same pages in again, and each give-back stops the other threads to flush
    // their address translations.
    mallopt(M_TRIM_THRESHOLD, 2 << 20);
    mallopt(M_MMAP_THRESHOLD, 1 << 20);
    int exitCode = Usage;
    const std::optional<Settings> settings = readArguments(argc, argv, &exitCode);
    if (!settings)
        return exitCode;
    const QString root = settings->root;
    int port = settings->port;
    if (!QFileInfo(root).isDir()) {
        say(stderr, QStringLiteral("网站文件夹不存在：") + root);
        return Usage;
    }
    if (port < 0)
        port = ProgramFolder::webServerPort(QFileInfo(root).absolutePath());

    // Signals are taken by one thread of their own; every thread made later inherits the mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    if (settings->background)
        detach();

    // Every waiting client holds a descriptor: a computer room's browsers open hundreds.
    if (rlimit files{}; getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }

    // Archives made before the class list had its index get it now (a no-op once there).
    {
        DatabaseConnection archive;
        if (archive.openDatabaseFile(QDir(root).filePath(QStringLiteral("学生信息.mdb")),
                                     StudentTable::databasePassword)) {
            archive.execute(StudentTable::dropEarlierListIndex);
            archive.execute(StudentTable::createListIndex);
        }
    }

    SiteServer server(root);
    QString reason;
    switch (server.bind(QStringLiteral("0.0.0.0"), port, &reason)) {
    case SiteServer::BindError::None:
        break;
    case SiteServer::BindError::InUse:
        if (isOwnServerListening(port))
            return answer(Served, QStringLiteral("网页服务器已经在运行，端口 %1").arg(port));
        return answer(
            PortInUse,
            QStringLiteral("端口 %1 已被其他程序占用。请关闭占用它的程序，或在 sys.ini 的 [sys] 中把 "
                           "WEB端口 改为别的端口（例如 8080）。")
                .arg(port));
    case SiteServer::BindError::NoPermission:
        return answer(
            NoPermission,
            QStringLiteral(
                "没有使用端口 %1 的权限：1024 以下的端口只有管理员能用。请用 make run 启动程序"
                "（它给网页服务器这个权限），或以管理员身份运行 setcap cap_net_bind_service=+ep %2，"
                "或在 sys.ini 的 [sys] 中把 WEB端口 改为 1024 以上的端口（例如 8080）。")
                .arg(port)
                .arg(QFile::symLinkTarget(QStringLiteral("/proc/self/exe"))));
    case SiteServer::BindError::Other:
        return answer(Failed, QStringLiteral("网页服务器无法使用端口 %1：%2").arg(port).arg(reason));
    }

    if (answer(Served,
               QStringLiteral("网页服务器已启动，端口 %1，网站文件夹 %2").arg(server.boundPort()).arg(root))
        != Served)
        return Failed;

    std::thread([&server, stopSignals] {
        int signal = 0;
        sigwait(&stopSignals, &signal);
        server.stop();
    }).detach();
    return server.listen_after_bind() ? Served : Failed;
}
