// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "formats/Error.h"

#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>

class DatabaseSession;
class PostgresSession;
class SqliteSession;

// One window's connection to the student archive (an SQLite 3 file or a database on a
// PostgreSQL server) or to another data source. Nothing here throws or ends the program: every operation
// answers whether it worked and keeps the reason of the last failure in lastError().
class DatabaseConnection {
public:
    DatabaseConnection();
    ~DatabaseConnection();
    DatabaseConnection(const DatabaseConnection&) = delete;
    DatabaseConnection& operator=(const DatabaseConnection&) = delete;

    // Opens an existing file; never creates one. Nothing is written into a file before it is
    // known to be an SQLite database holding `requiredTable` (any table when empty): a
    // zero-byte, foreign or damaged file is refused with the reason. A file or folder that
    // cannot be written is opened read-only, so a CD or a shared folder still lists its
    // students, and every write then says why it cannot. The password of the original file
    // format has no meaning for SQLite and is ignored.
    //
    // The archive of a program folder (DB/学生信息.mdb) may live on a server instead: where
    // QINGHE_DATABASE or sys.ini says so, that server's database is opened in its place.
    bool openDatabaseFile(const QString& path, const QString& password = {},
                          const QString& requiredTable = {});
    // Exactly the archive at `location`: a file path, or a postgresql:// address.
    bool openLocation(const QString& location, const QString& requiredTable = {});
    static bool isServerLocation(const QString& location);
    // Where the open archive is: its file or its server address.
    QString location() const;
    // The same for the operator: "数据库（文件）：…" or "数据库（服务器）：…".
    QString describeLocation() const;
    QStringList tables() const;
    // A data source other than the archive (the roster workbook), opened by `opener` on this
    // connection's own handle, so recordsets read and write it as they do the archive. The
    // opener comes from the caller because the web server links no workbook reader.
    using SourceOpener = bool (*)(SqliteSession& session, const QString& connectionString);
    bool openConnectionString(const QString& connectionString, SourceOpener opener);
    // A new, empty database in memory, written to a file whole from fileBytes: the set-up
    // tool builds the archive this way, so no half-made file is ever seen under its name.
    bool createInMemory();
    // The whole database as the bytes of a database file; empty when there is none.
    QByteArray fileBytes() const;

    // Runs a table statement; the table types of the original format (AUTOINCREMENT,
    // OLEOBJECT, varchar) are translated.
    bool execute(const QString& sql);
    void close();

    bool isOpen() const;
    bool isReadOnly() const;
    // Why a file that may be written was opened read-only (a full disk); empty otherwise.
    QString readOnlyReason() const;
    QString lastError() const;
    // What the last failure was, for the callers that treat some apart (a missing file is a
    // new folder's empty start; an unreachable server is tried again at every action).
    ErrorKind lastErrorKind() const;

    // Reads every page of the open archive where that is the program's job, off the window's
    // thread: false, with what is wrong, when it is not whole. None where the archive looks
    // after its own pages (a server). Needs nothing of this connection once made.
    using PageCheck = std::function<bool(const std::atomic<bool>* cancel, QString* problem)>;
    PageCheck pageCheck() const;
    // For a connection that reads many large rows again and again (the web server's).
    void preferMappedReads();

    // Once the file is known to be damaged (a query met a damaged page, or checkWholeFile
    // said so), writes are refused, so nothing more goes into it until it is restored.
    bool isDamaged() const;
    void markDamaged(const QString& reason);

    // Told true when a statement starts waiting for another program's lock on the file, and
    // false when the wait is over, so a window can show that it is waiting.
    void setLockWaitHandler(std::function<void(bool waiting)> handler);

    // Reads every page of the file on a read-only connection of its own: false, with what is
    // wrong, when the file is not whole. Slow on a large archive, so run it off the window's
    // thread; `cancel` stops it early (answering true).
    static bool checkWholeFile(const QString& path, QString* problem = nullptr,
                               const std::atomic<bool>* cancel = nullptr);
    // Whether the file holds anything worth keeping: false only for an absent or zero-byte
    // file and for an SQLite file without a single table. A file that cannot be read counts
    // as data.
    static bool fileHoldsData(const QString& path);

    // For a program whose threads all use the archive at once (the web server), called before
    // any connection is opened: SQLite neither counts its memory under one global lock nor
    // locks each connection, since a connection serves one page at a time.
    static void prepareForManyThreads();

    // Many record commits in one transaction, for runs over thousands of records.
    bool beginTransaction();
    bool commitTransaction();
    void rollbackTransaction();

private:
    friend class Recordset;
    friend class TableWriter;
    std::shared_ptr<DatabaseSession> session() const;
    bool openServer(const QString& uri, const QString& requiredTable);
    bool openFile(const QString& path, const QString& requiredTable);

    std::shared_ptr<SqliteSession> m_session;
    std::shared_ptr<PostgresSession> m_server; // set while the archive is on a server
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
