// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/DatabaseConnection.h"

#include "platform/DatabaseSession.h"
#include "platform/WorkbookSource.h"

#include <QFile>
#include <QRegularExpression>
#include <QThreadPool>

QString describeSqliteError(int code, const char* message)
{
    const QString detail = QString::fromUtf8(message ? message : "");
    switch (code & 0xff) {
    case SQLITE_READONLY:
        return QStringLiteral("数据库文件是只读的，不能写入");
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return QStringLiteral("数据库正被其他程序使用，请稍后再试");
    case SQLITE_FULL:
        return QStringLiteral("磁盘已满");
    case SQLITE_CANTOPEN:
        return QStringLiteral("无法打开数据库文件");
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
        return QStringLiteral("数据库文件已损坏或不是数据库");
    case SQLITE_IOERR:
        return QStringLiteral("读写数据库文件出错");
    case SQLITE_PERM:
    case SQLITE_AUTH:
        return QStringLiteral("没有访问数据库文件的权限");
    default:
        return QStringLiteral("数据库错误：") + detail;
    }
}

void DatabaseSession::close()
{
    if (db) {
        sqlite3_close_v2(db);
        db = nullptr;
    }
    afterChange = nullptr;
}

bool DatabaseSession::fail(int code)
{
    lastError = describeSqliteError(code, db ? sqlite3_errmsg(db) : nullptr);
    return false;
}

bool DatabaseSession::fail(const QString& message)
{
    lastError = message;
    return false;
}

bool DatabaseSession::exec(const QString& sql)
{
    if (!db)
        return fail(QStringLiteral("数据库未打开"));
    const int rc = sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, nullptr);
    return rc == SQLITE_OK || fail(rc);
}

Statement::Statement(DatabaseSession& session, const QString& sql)
{
    if (!session.db) {
        m_code = SQLITE_MISUSE;
        return;
    }
    const QByteArray text = sql.toUtf8();
    m_code = sqlite3_prepare_v2(session.db, text.constData(), int(text.size()), &m_stmt, nullptr);
    if (m_code != SQLITE_OK && m_stmt) {
        sqlite3_finalize(m_stmt);
        m_stmt = nullptr;
    }
    // An empty or comment-only text prepares to nothing.
    if (m_code == SQLITE_OK && !m_stmt)
        m_code = SQLITE_MISUSE;
}

Statement::~Statement()
{
    if (m_stmt)
        sqlite3_finalize(m_stmt);
}

void Statement::bind(int index, const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::UnknownType:
        sqlite3_bind_null(m_stmt, index);
        break;
    case QMetaType::QByteArray: {
        const QByteArray bytes = value.toByteArray();
        sqlite3_bind_blob64(m_stmt, index, bytes.constData(), sqlite3_uint64(bytes.size()), SQLITE_TRANSIENT);
        break;
    }
    case QMetaType::Int:
    case QMetaType::LongLong:
        sqlite3_bind_int64(m_stmt, index, value.toLongLong());
        break;
    case QMetaType::Double:
        sqlite3_bind_double(m_stmt, index, value.toDouble());
        break;
    default: {
        const QByteArray text = value.toString().toUtf8();
        sqlite3_bind_text64(m_stmt, index, text.constData(), sqlite3_uint64(text.size()), SQLITE_TRANSIENT,
                            SQLITE_UTF8);
    }
    }
}

int Statement::step()
{
    m_code = m_stmt ? sqlite3_step(m_stmt) : SQLITE_MISUSE;
    return m_code;
}

QVariant Statement::column(int index) const
{
    switch (sqlite3_column_type(m_stmt, index)) {
    case SQLITE_INTEGER:
        return QVariant(qint64(sqlite3_column_int64(m_stmt, index)));
    case SQLITE_FLOAT:
        return QVariant(sqlite3_column_double(m_stmt, index));
    case SQLITE_TEXT:
        return QVariant(QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, index)),
                                          sqlite3_column_bytes(m_stmt, index)));
    case SQLITE_BLOB: {
        const int size = sqlite3_column_bytes(m_stmt, index);
        return QVariant(QByteArray(static_cast<const char*>(sqlite3_column_blob(m_stmt, index)), size));
    }
    default:
        return QVariant();
    }
}

DatabaseConnection::DatabaseConnection()
    : m_session(std::make_shared<DatabaseSession>())
{
}

DatabaseConnection::~DatabaseConnection() = default;

bool DatabaseConnection::openFile(const QString& path, int flags)
{
    close();
    const int rc = sqlite3_open_v2(QFile::encodeName(path).constData(), &m_session->db, flags, nullptr);
    if (rc != SQLITE_OK) {
        m_session->fail(rc);
        m_session->close();
        return false;
    }
    sqlite3_extended_result_codes(m_session->db, 1);
    // The web server uses the same file at the same time: wait for its short locks instead
    // of failing at once, and let readers and a writer run side by side.
    sqlite3_busy_timeout(m_session->db, 5000);
    m_session->exec(QStringLiteral("PRAGMA journal_mode=WAL"));
    m_session->exec(QStringLiteral("PRAGMA synchronous=NORMAL"));

    // sqlite opens lazily: make a missing or foreign file fail here, not at the first query.
    Statement probe(*m_session, QStringLiteral("SELECT count(*) FROM sqlite_master"));
    if (!probe.isValid() || probe.step() != SQLITE_ROW) {
        m_session->fail(probe.isValid() ? probe.code() : sqlite3_errcode(m_session->db));
        m_session->close();
        return false;
    }
    m_session->lastError.clear();
    return true;
}

bool DatabaseConnection::openDatabaseFile(const QString& path, const QString& /*password*/)
{
    return openFile(path, SQLITE_OPEN_READWRITE);
}

bool DatabaseConnection::createDatabaseFile(const QString& path)
{
    return openFile(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
}

bool DatabaseConnection::openConnectionString(const QString& connectionString)
{
    close();
    return WorkbookSource::open(*m_session, connectionString);
}

bool DatabaseConnection::execute(const QString& sql)
{
    return m_session->exec(translateTableStatement(sql));
}

void DatabaseConnection::close() { m_session->close(); }

bool DatabaseConnection::isOpen() const { return m_session->db != nullptr; }

QString DatabaseConnection::lastError() const { return m_session->lastError; }

namespace {

constexpr int autoCheckpointPages = 1000; // SQLite's own default

// Copies the write-ahead log into the database file on a connection of its own, so a large
// commit does not keep the window waiting for it. Readers and writers go on meanwhile.
void checkpointInBackground(const QByteArray& file)
{
    QThreadPool::globalInstance()->start([file] {
        sqlite3* db = nullptr;
        if (sqlite3_open_v2(file.constData(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
            sqlite3_busy_timeout(db, 5000);
            sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
        }
        sqlite3_close(db);
    });
}

} // namespace

bool DatabaseConnection::beginTransaction()
{
    if (!m_session->exec(QStringLiteral("BEGIN IMMEDIATE")))
        return false;
    // A transaction may rewrite a whole school's photos; the commit must not also copy them
    // all into the database file before it returns.
    sqlite3_wal_autocheckpoint(m_session->db, 0);
    return true;
}

bool DatabaseConnection::commitTransaction()
{
    const bool committed = m_session->exec(QStringLiteral("COMMIT"));
    if (m_session->db) {
        sqlite3_wal_autocheckpoint(m_session->db, autoCheckpointPages);
        if (committed)
            checkpointInBackground(QByteArray(sqlite3_db_filename(m_session->db, "main")));
    }
    return committed;
}

void DatabaseConnection::rollbackTransaction()
{
    if (m_session->db && !sqlite3_get_autocommit(m_session->db))
        sqlite3_exec(m_session->db, "ROLLBACK", nullptr, nullptr, nullptr);
    if (m_session->db)
        sqlite3_wal_autocheckpoint(m_session->db, autoCheckpointPages);
}

DatabaseTransaction::DatabaseTransaction(DatabaseConnection& connection)
    : m_connection(connection)
    , m_active(connection.beginTransaction())
{
}

DatabaseTransaction::~DatabaseTransaction()
{
    if (m_active)
        m_connection.rollbackTransaction();
}

bool DatabaseTransaction::commit()
{
    if (!m_active)
        return false;
    m_active = false;
    if (m_connection.commitTransaction())
        return true;
    m_connection.rollbackTransaction();
    return false;
}

QString translateTableStatement(const QString& sql)
{
    static const QRegularExpression tableStatement(QStringLiteral("^\\s*(CREATE|ALTER)\\s"),
                                                   QRegularExpression::CaseInsensitiveOption);
    if (!tableStatement.match(sql).hasMatch())
        return sql;

    static const QRegularExpression counter(QStringLiteral("([^\\s,(]+)(\\s+)(AUTOINCREMENT|COUNTER)\\b"),
                                            QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression oleObject(QStringLiteral("\\b(OLEOBJECT|LONGBINARY|IMAGE)\\b"),
                                              QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression varchar(QStringLiteral("\\b(varchar|memo)\\b(\\s*\\(\\s*\\d+\\s*\\))?"),
                                            QRegularExpression::CaseInsensitiveOption);

    QString out;
    qsizetype last = 0;
    for (auto it = counter.globalMatch(sql); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        if (m.captured(1).compare(u"KEY", Qt::CaseInsensitive) == 0)
            continue; // already SQLite's own "INTEGER PRIMARY KEY AUTOINCREMENT"
        out += QStringView(sql).mid(last, m.capturedStart(3) - last);
        out += QStringLiteral("INTEGER PRIMARY KEY AUTOINCREMENT");
        last = m.capturedEnd(3);
    }
    out += QStringView(sql).mid(last);
    out.replace(oleObject, QStringLiteral("BLOB"));
    out.replace(varchar, QStringLiteral("TEXT"));
    return out;
}
