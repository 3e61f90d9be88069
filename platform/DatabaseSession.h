// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>

#include <functional>

#include <sqlite3.h>

// The open SQLite handle shared by a connection and the recordsets attached to it. A
// recordset keeps only a weak reference, so a closed or destroyed connection makes its
// recordsets fail softly instead of using a dangling handle.
struct DatabaseSession {
    sqlite3* db = nullptr;
    QString lastError;
    // Why there is no handle: the reason the open failed, so later calls say it too.
    QString closedReason = QStringLiteral("数据库未打开");
    // Set once SQLite found the file damaged: nothing more is written into it.
    QString damage;
    bool readOnly = false;
    QString readOnlyReason;  // when a writable file could only be opened read-only
    bool walChecked = false; // WAL is switched on at the first write, never by opening
    std::function<void(bool waiting)> lockWait;
    bool waiting = false;
    // Set by a source whose data lives outside SQLite (a workbook): run after each committed
    // change so that the change reaches that file too. False, with lastError, when it did not.
    std::function<bool(DatabaseSession&)> afterChange;

    DatabaseSession() = default;
    DatabaseSession(const DatabaseSession&) = delete;
    DatabaseSession& operator=(const DatabaseSession&) = delete;
    ~DatabaseSession() { close(); }

    void close();
    bool exec(const QString& sql);
    // Records the failure of the last call on `db` and returns false.
    bool fail(int code);
    bool fail(const QString& message);
    // The words for a failed call on `db`; notes a damaged file on the way.
    QString describe(int code);
    // False, with the reason, when nothing may be written: the file was found damaged.
    bool mayWrite();
    void endWait();
};

// A prepared statement that finalises itself, so no lock outlives the call that made it.
class Statement {
public:
    Statement(DatabaseSession& session, const QString& sql);
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
    DatabaseSession* m_session = nullptr;
    sqlite3_stmt* m_stmt = nullptr;
    int m_code = SQLITE_OK;
};

QString describeSqliteError(int code, const char* message);
