// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "archive/ResultRows.h"

#include <QByteArray>
#include <QHashFunctions>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <functional>
#include <memory>
#include <optional>
#include <unordered_map>
#include <utility>
#include <vector>

#include <sqlite3.h>

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

    QString lastError;
    // Why there is no connection: the reason the open failed, so later calls say it too.
    QString closedReason = QStringLiteral("数据库未打开");
    // Set once the archive was found damaged: nothing more is written into it.
    QString damage;

    virtual bool isOpen() const = 0;
    virtual void close() = 0;
    virtual QString location() const = 0;
    virtual bool isServer() const = 0;
    // False, with the reason, when nothing may be written.
    virtual bool mayWrite() = 0;
    // A statement that returns no rows, in the words of the original format.
    virtual bool execute(const QString& sql) = 0;
    virtual QStringList tables() = 0;

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

    bool fail(const QString& message)
    {
        lastError = message;
        return false;
    }
};

// The SQLite handle of a file archive or of a workbook loaded into memory.
class SqliteSession final : public DatabaseSession {
public:
    ~SqliteSession() override { close(); }

    sqlite3* db = nullptr;
    QString path;
    bool readOnly = false;
    QString readOnlyReason;  // when a writable file could only be opened read-only
    bool walChecked = false; // WAL is switched on at the first write, never by opening
    std::function<void(bool waiting)> lockWait;
    bool waiting = false;
    // Set by a source whose data lives outside SQLite (a workbook): run after each committed
    // change so that the change reaches that file too. False, with lastError, when it did not.
    std::function<bool(SqliteSession&)> afterChange;

    bool isOpen() const override { return db != nullptr; }
    void close() override;
    QString location() const override { return path; }
    bool isServer() const override { return false; }
    bool mayWrite() override;
    bool execute(const QString& sql) override;
    QStringList tables() override;

    bool openTable(const QString& table, const QString& rest, ResultRows& rows) override;
    bool openQuery(const QString& sql, ResultRows& rows) override;
    void readDeferred(ResultRows& rows, qsizetype row) override;
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

    bool exec(const QString& sql);
    using DatabaseSession::fail;
    // Records the failure of the last call on `db` and returns false.
    bool fail(int code);
    // The words for a failed call on `db`; notes a damaged file on the way.
    QString describe(int code);
    void endWait();
    // Run after every commit, so that the database file alone holds every saved student and a
    // plain copy of it is a whole backup, whoever else has it open. A reader that began before
    // the commit holds its pages back without holding up the save; they are copied when it has
    // ended: by the window's thread a moment later, or at the next commit or close.
    void copyLog();

    // Prepared statements kept for their next use, by their text: the web server's pages ask
    // the same few queries again and again. Reset, a statement holds no lock.
    sqlite3_stmt* takePrepared(const QByteArray& sql);
    void keepPrepared(QByteArray sql, sqlite3_stmt* statement);

private:
    // A table's columns and the lists of them that its queries select.
    struct TableShape {
        qint64 schema = -1; // the schema version it was read at
        QStringList columns;
        std::vector<bool> bytes;
        std::vector<bool> deferred; // read only when asked for (see openTable)
        QString selectList, eagerList, deferredList;
    };

    // What a query's result depends on: the commits of every other connection, this one's own
    // changes, and the tables' shapes.
    struct Version {
        qint64 data = 0, changes = 0, schema = 0;
        bool operator==(const Version&) const = default;
    };
    // The result of a "select * from" query, kept while its version stands: the web server's
    // pages ask the same few queries again and again, and most often nothing has changed.
    struct KeptResult {
        QString table, rest;
        Version version;
        ResultRows rows;
    };

    // A read transaction around what is read in its scope, unless one is open already.
    class OneRead {
    public:
        explicit OneRead(SqliteSession& session);
        ~OneRead();
        OneRead(const OneRead&) = delete;
        OneRead& operator=(const OneRead&) = delete;

    private:
        SqliteSession& m_session;
        bool m_began = false;
    };

    bool changed();
    void copyLogLater(int attempt);
    void forgetKept();
    std::optional<Version> version();
    const TableShape* shapeOf(const QString& table, qint64 schema);
    KeptResult* keptResult(const QString& table, const QString& rest);
    void keepResult(const QString& table, const QString& rest, const Version& version,
                    const ResultRows& rows);

    std::unique_ptr<QObject> m_copyRetries; // its timers go with the connection
    bool m_copyPending = false;
    std::vector<std::pair<QByteArray, sqlite3_stmt*>> m_prepared; // the last used last
    std::unordered_map<QString, TableShape> m_shapes;
    std::vector<KeptResult> m_results; // the last used last
};

// A prepared statement that finalises itself, so no lock outlives the call that made it.
class Statement {
public:
    Statement(SqliteSession& session, const QString& sql);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool isValid() const { return m_stmt != nullptr; }
    int code() const { return m_code; }
    sqlite3_stmt* handle() const { return m_stmt; }

    void bind(int index, const QVariant& value);
    int step();
    QVariant column(int index) const;

private:
    SqliteSession* m_session = nullptr;
    QByteArray m_sql;
    sqlite3_stmt* m_stmt = nullptr;
    int m_code = SQLITE_OK;
};

QString describeSqliteError(int code, const char* message);
