// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "archive/ResultRows.h"
#include "formats/Error.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <memory>
#include <optional>
#include <utility>
#include <vector>

// The open archive shared by a connection and the recordsets attached to it: one
// implementation per back end (an SQLite file, a PostgreSQL server). A recordset keeps only a
// weak reference, so a closed or destroyed connection makes its recordsets fail softly.
// Every call that fails answers so and leaves the reason in lastError.
class DatabaseSession {
public:
    DatabaseSession() = default;
    DatabaseSession(const DatabaseSession&) = delete;
    DatabaseSession& operator=(const DatabaseSession&) = delete;
    virtual ~DatabaseSession() = default;

    Error lastError;
    // Why there is no connection: the reason the open failed, so later calls say it too.
    Error closedReason{ErrorKind::Failed, QStringLiteral("数据库未打开")};
    // Set once the archive was found damaged: nothing more is written into it.
    QString damage;

    virtual bool isOpen() const = 0;
    virtual void close() = 0;
    virtual QString location() const = 0;
    // "数据库（文件）：…" or "数据库（服务器）：…", for the operator.
    virtual QString describeLocation() const = 0;
    // False, with the reason, when nothing may be written.
    virtual bool mayWrite() = 0;
    // A statement that returns no rows, in the words of the original format.
    virtual bool execute(const QString& sql) = 0;
    virtual QStringList tables() = 0;
    // For a connection that mostly reads large rows (the web server's): a hint, which a back
    // end without such a choice ignores.
    virtual void preferMappedReads() {}

    // "select * from <table><rest>": false when it is not a table that can be written back.
    virtual bool openTable(const QString& table, const QString& rest, ResultRows& rows) = 0;
    // Any other query, read whole and read-only.
    virtual bool openQuery(const QString& sql, ResultRows& rows) = 0;
    virtual void readDeferred(ResultRows&, qsizetype /*row*/) {}
    // One row of an updatable result, as openTable gives it; nothing when it is gone.
    virtual std::optional<std::vector<QVariant>> fetchRow(const ResultRows& rows, qint64 key) = 0;
    virtual std::optional<QByteArray> readBytes(const ResultRows& rows, int column, qint64 key) = 0;
    // The new row's key.
    virtual std::optional<qint64> insert(const ResultRows& rows,
                                         const std::vector<std::pair<int, QVariant>>& values) = 0;
    // How many rows changed; -1 on failure.
    virtual int update(const ResultRows& rows, const std::vector<std::pair<int, QVariant>>& values,
                       qint64 key) = 0;
    virtual bool remove(const ResultRows& rows, qint64 key) = 0;

    // A run of new records stored together: a savepoint, or a transaction of its own when
    // none is open. endRun keeps or drops what the run stored.
    virtual bool beginRun(const QString& name) = 0;
    virtual bool endRun(const QString& name, bool keep) = 0;
    virtual bool begin() = 0;
    virtual bool commit() = 0;
    virtual void rollback() = 0;

    bool fail(const QString& message, ErrorKind kind = ErrorKind::Failed)
    {
        lastError = Error{kind, message};
        return false;
    }
    bool fail(const Error& error)
    {
        lastError = error;
        return false;
    }
};
