// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <memory>

struct DatabaseSession;

// One window's connection to the student database (an SQLite 3 file) or to another data
// source. Nothing here throws or ends the program: every operation answers whether it
// worked and keeps the reason of the last failure in lastError().
class DatabaseConnection {
public:
    DatabaseConnection();
    ~DatabaseConnection();
    DatabaseConnection(const DatabaseConnection&) = delete;
    DatabaseConnection& operator=(const DatabaseConnection&) = delete;

    // Opens an existing file for reading and writing; never creates one. The password of the
    // original file format has no meaning for SQLite and is ignored.
    bool openDatabaseFile(const QString& path, const QString& password = {});
    bool openConnectionString(const QString& connectionString);
    // Only the set-up tool and tests make new database files.
    bool createDatabaseFile(const QString& path);

    // Runs a table statement; the table types of the original format (AUTOINCREMENT,
    // OLEOBJECT, varchar) are translated.
    bool execute(const QString& sql);
    void close();

    bool isOpen() const;
    QString lastError() const;

    // Many record commits in one transaction, for runs over thousands of records.
    bool beginTransaction();
    bool commitTransaction();
    void rollbackTransaction();

private:
    friend class Recordset;
    bool openFile(const QString& path, int flags);
    std::shared_ptr<DatabaseSession> m_session;
};

// Commits on commit(); rolls back when it goes out of scope before that.
class DatabaseTransaction {
public:
    explicit DatabaseTransaction(DatabaseConnection& connection);
    ~DatabaseTransaction();
    DatabaseTransaction(const DatabaseTransaction&) = delete;
    DatabaseTransaction& operator=(const DatabaseTransaction&) = delete;

    bool isActive() const { return m_active; }
    bool commit();

private:
    DatabaseConnection& m_connection;
    bool m_active = false;
};

// The table statements of the original file format in SQLite's words.
QString translateTableStatement(const QString& sql);
