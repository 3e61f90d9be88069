// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "archive/DatabaseSession.h"

#include <QHashFunctions>

#include <functional>
#include <memory>
#include <unordered_map>

#include <sqlite3.h>

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
    QString describeLocation() const override;
    bool mayWrite() override;
    bool execute(const QString& sql) override;
    QStringList tables() override;
    void preferMappedReads() override;

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

// The statements of the original file format in SQLite's words: the column types, the
// generated key and #dates#. SQLite reads [bracketed] names itself.
QString sqliteStatement(const QString& sql);
