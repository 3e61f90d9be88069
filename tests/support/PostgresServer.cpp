// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/PostgresServer.h"

#include "archive/DatabaseConnection.h"

#include <QDir>
#include <QFile>
#include <QProcess>

#include <pwd.h>
#include <unistd.h>

namespace {

const QString binaries = QStringLiteral("/usr/lib/postgresql/15/bin/");
const QString superuser = QStringLiteral("qinghe");

bool runningAsRoot() { return ::geteuid() == 0; }

} // namespace

PostgresServer::PostgresServer(bool durable)
    : m_durable(durable)
{
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("no temporary folder");
        return;
    }
    if (runningAsRoot()) {
        const passwd* user = ::getpwnam("postgres");
        if (!user || ::chown(QFile::encodeName(m_dir.path()).constData(), user->pw_uid, user->pw_gid) != 0) {
            m_error = QStringLiteral("cannot hand the folder to the user postgres");
            return;
        }
    }
    QString output;
    if (!runTool(QStringLiteral("initdb"),
                 {QStringLiteral("-D"), m_dir.filePath(QStringLiteral("data")), QStringLiteral("-U"),
                  superuser, QStringLiteral("-A"), QStringLiteral("trust"), QStringLiteral("-E"),
                  QStringLiteral("UTF8"), QStringLiteral("--locale=C.UTF-8"), QStringLiteral("--no-sync")},
                 &output)) {
        m_error = QStringLiteral("initdb failed: ") + output;
        return;
    }
    start();
}

PostgresServer::~PostgresServer() { stop(); }

bool PostgresServer::runTool(const QString& tool, const QStringList& arguments, QString* output)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    if (runningAsRoot())
        process.start(QStringLiteral("runuser"), QStringList{QStringLiteral("-u"), QStringLiteral("postgres"),
                                                             QStringLiteral("--"), binaries + tool}
                                                     + arguments);
    else
        process.start(binaries + tool, arguments);
    // Bounded: a server that does not come up fails the test instead of hanging it.
    const bool finished = process.waitForFinished(60000);
    if (!finished)
        process.kill();
    if (output)
        *output = QString::fromLocal8Bit(process.readAll());
    return finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

bool PostgresServer::start()
{
    QStringList options{QStringLiteral("-c listen_addresses=''"), QStringLiteral("-k ") + m_dir.path(),
                        QStringLiteral("-c max_connections=60"), QStringLiteral("-c shared_buffers=32MB")};
    if (!m_durable)
        options << QStringLiteral("-c fsync=off -c full_page_writes=off");
    QString output;
    m_running =
        runTool(QStringLiteral("pg_ctl"),
                {QStringLiteral("-D"), m_dir.filePath(QStringLiteral("data")), QStringLiteral("-l"),
                 m_dir.filePath(QStringLiteral("log")), QStringLiteral("-o"), options.join(u' '),
                 QStringLiteral("-w"), QStringLiteral("-t"), QStringLiteral("30"), QStringLiteral("start")},
                &output);
    if (!m_running) {
        QFile log(m_dir.filePath(QStringLiteral("log")));
        log.open(QIODevice::ReadOnly);
        m_error = QStringLiteral("pg_ctl start failed: ") + output + QString::fromLocal8Bit(log.readAll());
    }
    return m_running;
}

bool PostgresServer::stop()
{
    if (!m_running)
        return true;
    m_running = !runTool(QStringLiteral("pg_ctl"),
                         {QStringLiteral("-D"), m_dir.filePath(QStringLiteral("data")), QStringLiteral("-m"),
                          QStringLiteral("immediate"), QStringLiteral("-w"), QStringLiteral("stop")});
    return !m_running;
}

QString PostgresServer::uri(const QString& database) const
{
    return QStringLiteral("postgresql:///%1?host=%2&user=%3").arg(database, m_dir.path(), superuser);
}

QString PostgresServer::createDatabase()
{
    const QString name = QStringLiteral("archive%1").arg(++m_databases);
    DatabaseConnection connection;
    if (!connection.openLocation(uri(QStringLiteral("postgres")))
        || !connection.execute(QStringLiteral("CREATE DATABASE ") + name)) {
        m_error = connection.lastError();
        return {};
    }
    return uri(name);
}
