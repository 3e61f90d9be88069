// SPDX-License-Identifier: GPL-3.0-or-later
// asp [--port N] [--root FOLDER] [--background]: the site's web server. It serves the folder
// it lies in (the program folder's DB/) on every local address, at [sys] WEB端口 of the
// program folder's sys.ini (80 when unset), until SIGTERM.
#include "platform/DatabaseConnection.h"
#include "platform/ProgramFolder.h"
#include "platform/StudentTable.h"
#include "server/SiteServer.h"

#include <QDir>
#include <QFileInfo>
#include <sqlite3.h>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
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

// Detaches from the program that started us, which only waits to learn whether the port
// could be taken.
void runInBackground()
{
    const pid_t child = fork();
    if (child < 0) {
        say(stderr, QStringLiteral("网页服务器无法转入后台运行"));
        std::exit(Failed);
    }
    if (child > 0)
        std::_Exit(Served);
    setsid();
    const int null = open("/dev/null", O_RDWR);
    if (null >= 0) {
        dup2(null, STDIN_FILENO);
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
        if (null > STDERR_FILENO)
            close(null);
    }
}

} // namespace

int main(int argc, char* argv[])
{
    // SQLite counts its memory under one lock that every page of every thread would take.
    sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
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
        if (isOwnServerListening(port)) {
            say(stdout, QStringLiteral("网页服务器已经在运行，端口 %1").arg(port));
            return Served;
        }
        say(stderr, QStringLiteral("端口 %1 已被其他程序占用。请关闭占用它的程序，或在 sys.ini 的 [sys] 中把 "
                                   "WEB端口 改为别的端口（例如 8080）。")
                        .arg(port));
        return PortInUse;
    case SiteServer::BindError::NoPermission:
        say(stderr, QStringLiteral(
                        "没有使用端口 %1 的权限：1024 以下的端口只有管理员能用。请用 make run 启动程序"
                        "（它给网页服务器这个权限），或以管理员身份运行 setcap cap_net_bind_service=+ep %2，"
                        "或在 sys.ini 的 [sys] 中把 WEB端口 改为 1024 以上的端口（例如 8080）。")
                        .arg(port)
                        .arg(QFile::symLinkTarget(QStringLiteral("/proc/self/exe"))));
        return NoPermission;
    case SiteServer::BindError::Other:
        say(stderr, QStringLiteral("网页服务器无法使用端口 %1：%2").arg(port).arg(reason));
        return Failed;
    }

    say(stdout, QStringLiteral("网页服务器已启动，端口 %1，网站文件夹 %2").arg(server.boundPort()).arg(root));
    if (background)
        runInBackground();

    std::thread([&server, stopSignals] {
        int signal = 0;
        sigwait(&stopSignals, &signal);
        server.stop();
    }).detach();
    return server.listen_after_bind() ? Served : Failed;
}
