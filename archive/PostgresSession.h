// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "archive/DatabaseSession.h"

#include <QByteArray>
#include <QString>
#include <QVariant>

#include <vector>

struct pg_conn;
struct pg_result;

// An archive on a PostgreSQL server, reached through libpq. The tables are those of the file
// archive; a table without a generated `id` carries a hidden generated key of its own, so
// every table keeps the order its rows were stored in and a row can be found again.
class PostgresSession final : public DatabaseSession {
public:
    PostgresSession() = default;
    ~PostgresSession() override;

    // Why a text holding a NUL is not stored: the server keeps none, and libpq would cut it.
    static inline const QString nulRefused = QStringLiteral("文本里有空字符（NUL），数据库服务器不能保存");

    // Connects to `uri` (postgresql://host/dbname?...); false, with libpq's reason, when
    // the server cannot be reached.
    bool connect(const QString& uri);

    bool isOpen() const override;
    void close() override;
    QString location() const override { return m_uri; }
    QString describeLocation() const override;
    bool mayWrite() override;
    bool execute(const QString& sql) override;
    QStringList tables() override;

    bool openTable(const QString& table, const QString& rest, ResultRows& rows) override;
    bool openQuery(const QString& sql, ResultRows& rows) override;
    std::optional<std::vector<QVariant>> fetchRow(const ResultRows& rows, qint64 key) override;
    std::optional<QByteArray> readBytes(const ResultRows& rows, int column, qint64 key) override;
    std::optional<qint64> insert(const ResultRows& rows,
                                 const std::vector<std::pair<int, QVariant>>& values) override;
    int update(const ResultRows& rows, const std::vector<std::pair<int, QVariant>>& values,
               qint64 key) override;
    bool remove(const ResultRows& rows, qint64 key) override;

    bool beginRun(const QString& name) override;
    bool endRun(const QString& name, bool keep) override;
    bool begin() override;
    bool commit() override;
    void rollback() override;

private:
    struct Result;
    // Runs one statement with parameters (bytes go as bytes); answers the result, or none with
    // the reason in lastError. Retries a statement outside a transaction a few times when the
    // server asks for it (a serialization failure, a deadlock broken by the server).
    std::optional<Result> run(const QString& sql, const std::vector<QVariant>& parameters = {},
                              bool binaryResult = false);
    bool command(const QString& sql);
    bool commitNow();
    bool reachable();
    bool reconnect();
    bool socketAlive();
    bool inTransaction() const;
    void noteLostConnection();
    Error serverReason() const;

    pg_conn* m_conn = nullptr;
    bool m_wanted = false; // connect() was called and close() not since
    QString m_uri;
    // Runs that opened the transaction themselves end it; the others are savepoints in it.
    std::vector<std::pair<QString, bool>> m_runs;
    bool m_transaction = false; // begin() was called and not yet ended
    // The connection broke inside a transaction: what it held is gone, and nothing more may
    // be done in its name until it is ended.
    bool m_transactionLost = false;
};

// The statements of the original file format and of SQLite in PostgreSQL's words: the
// column types, a generated key, [bracketed] names, and SQLite-only pragmas as no-ops.
// Values between quotes are left exactly as they are.
QString postgresStatement(const QString& sql);
