// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QTemporaryDir>

// A PostgreSQL 15 server of its own for a test or a benchmark: a new cluster in a temporary
// folder, reached only through a Unix socket in that folder, run as the unprivileged user
// postgres when the caller is root (the server refuses to run as root). Stopped and removed
// with the object.
class PostgresServer {
public:
    // `durable` false trades crash safety for speed (no fsync), for tests.
    explicit PostgresServer(bool durable = false);
    ~PostgresServer();
    PostgresServer(const PostgresServer&) = delete;
    PostgresServer& operator=(const PostgresServer&) = delete;

    bool isRunning() const { return m_running; }
    // What went wrong starting it, with the server's log.
    QString error() const { return m_error; }

    // The address of a database on it, as QINGHE_DATABASE or sys.ini hold it.
    QString uri(const QString& database) const;
    // A new, empty database: its address; empty when it could not be made.
    QString createDatabase();

    // Stops the server at once (as a crash or a pulled cable would) and starts it again.
    bool stop();
    bool start();

private:
    bool runTool(const QString& tool, const QStringList& arguments, QString* output = nullptr);

    QTemporaryDir m_dir;
    QString m_error;
    bool m_durable = false;
    bool m_running = false;
    int m_databases = 0;
};
