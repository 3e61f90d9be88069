// SPDX-License-Identifier: GPL-3.0-or-later
// asp [--port N] [--root FOLDER] [--background]: the site's web server. It serves the folder
// it lies in (the program folder's DB/) on every local address, at [sys] WEB端口 of the
// program folder's sys.ini (80 when unset), until SIGTERM. With --background it detaches
// from the program that started it, which learns from its exit code and output whether the
// site is served.
#include "archive/DatabaseConnection.h"
#include "archive/ProgramFolder.h"
#include "archive/StudentTable.h"
#include "server/SiteServer.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <malloc.h>
#include <pthread.h>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

namespace {

enum ExitCode { Served = 0, Failed = 1, Usage = 2, PortInUse = 3, NoPermission = 4 };

void say(FILE* stream, const QString& text)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

QString ownFolder()
{
    return QFileInfo(QFile::symLinkTarget(QStringLiteral("/proc/self/exe"))).absolutePath();
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
    QString root = ownFolder();
    int port = -1;
    bool background = false;
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        if (arg == u"--port" && i + 1 < argc) {
            bool ok = false;
            port = QString::fromLocal8Bit(argv[++i]).toInt(&ok);
            if (!ok || port < 0 || port > 65535) {
                say(stderr, QStringLiteral("端口必须是 0 到 65535 之间的整数"));
                return Usage;
            }
        } else if (arg == u"--root" && i + 1 < argc) {
            root = QDir(QString::fromLocal8Bit(argv[++i])).absolutePath();
        } else if (arg == u"--background") {
            background = true;
        } else {
            say(stderr, QStringLiteral("用法：asp [--port 端口] [--root 网站文件夹] [--background]"));
            return Usage;
        }
    }
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

    if (background)
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
