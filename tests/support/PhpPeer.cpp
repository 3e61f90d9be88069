// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/PhpPeer.h"

#include "tests/support/FreePort.h"

#include <QElapsedTimer>
#include <QThread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

sockaddr_in loopback(int port)
{
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(quint16(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return addr;
}

bool listening(int port)
{
    const int sock = ::socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in addr = loopback(port);
    const bool ok = ::connect(sock, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
    ::close(sock);
    return ok;
}

} // namespace

PhpPeer::PhpPeer(const QString& databaseFile)
{
    const int port = freeLocalPort();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QINGHE_PEER_DATABASE"), databaseFile);
    // PHP's server answers one request at a time unless told to fork workers.
    env.insert(QStringLiteral("PHP_CLI_SERVER_WORKERS"), QString::number(QThread::idealThreadCount()));
    m_process.setProcessEnvironment(env);
    // It logs every request: into a pipe nobody reads, it would stall once the pipe is full.
    m_process.setStandardOutputFile(QProcess::nullDevice());
    m_process.setStandardErrorFile(QProcess::nullDevice());
    m_process.start(QStringLiteral("php"), {QStringLiteral("-S"), QStringLiteral("127.0.0.1:%1").arg(port),
                                            QStringLiteral("-t"), QStringLiteral(QINGHE_PHP_PEER_FOLDER)});
    if (!m_process.waitForStarted(5000)) {
        m_error = QStringLiteral("php did not start (install php-cli and php-sqlite3)");
        return;
    }
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 5000 && m_process.state() == QProcess::Running) {
        if (listening(port)) {
            m_port = port;
            return;
        }
        QThread::msleep(50);
    }
    m_error = QStringLiteral("php does not listen on port %1").arg(port);
}

PhpPeer::~PhpPeer()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(3000)) {
        m_process.kill();
        m_process.waitForFinished();
    }
}
