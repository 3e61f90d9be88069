// SPDX-License-Identifier: GPL-3.0-or-later
#include "archive/DatabaseConnection.h"

#include "archive/ArchiveLocation.h"
#include "archive/PostgresSession.h"
#include "archive/SqliteSession.h"
#include "archive/jet/JetFile.h"

#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <algorithm>
#include <iterator>

#include <cstring>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

const QString readOnlyReason = QStringLiteral("数据库文件是只读的，不能写入");
const QString damagedReason = QStringLiteral("数据库文件已损坏");

bool isDamageCode(int code) { return (code & 0xff) == SQLITE_CORRUPT || (code & 0xff) == SQLITE_NOTADB; }

} // namespace

QString describeSqliteError(int code, const char* message)
{
    const QString detail = QString::fromUtf8(message ? message : "");
    switch (code & 0xff) {
    case SQLITE_READONLY:
        return readOnlyReason;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return QStringLiteral("数据库正被其他程序使用，请稍后再试");
    case SQLITE_FULL:
        return QStringLiteral("磁盘已满");
    case SQLITE_CANTOPEN:
        return QStringLiteral("无法打开数据库文件");
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
        return damagedReason;
    case SQLITE_IOERR:
        return QStringLiteral("读写数据库文件出错");
    case SQLITE_PERM:
    case SQLITE_AUTH:
        return QStringLiteral("没有访问数据库文件的权限");
    default:
        return QStringLiteral("数据库错误：") + detail;
    }
}

void SqliteSession::close()
{
    forgetKept();
    if (db) {
        // What a reader held back from the last commit goes into the file now.
        if (walChecked && !readOnly)
            sqlite3_wal_checkpoint_v2(db, "main", SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
        sqlite3_close_v2(db);
        db = nullptr;
    }
    m_copyRetries.reset();
    m_copyPending = false;
    readOnly = false;
    readOnlyReason.clear();
    walChecked = false;
    damage.clear();
    afterChange = nullptr;
}

QString SqliteSession::describe(int code)
{
    if (isDamageCode(code) && damage.isEmpty())
        damage = damagedReason;
    if ((code & 0xff) == SQLITE_READONLY && !readOnlyReason.isEmpty())
        return readOnlyReason;
    return describeSqliteError(code, db ? sqlite3_errmsg(db) : nullptr);
}

bool SqliteSession::fail(int code)
{
    const QString reason = describe(code);
    return fail(reason, isDamageCode(code) ? ErrorKind::Damaged : ErrorKind::Failed);
}

bool SqliteSession::mayWrite()
{
    if (!db)
        return fail(closedReason);
    if (!damage.isEmpty())
        return fail(damage + QStringLiteral("，不能写入，请从备份恢复"), ErrorKind::Damaged);
    if (!walChecked && !readOnly && sqlite3_get_autocommit(db)) {
        // Readers and a writer side by side, for the web server. Switching is a write, so a
        // file only looked at keeps its bytes.
        walChecked = true;
        sqlite3_exec(db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
        endWait();
    }
    return true;
}

void SqliteSession::endWait()
{
    if (waiting) {
        waiting = false;
        if (lockWait)
            lockWait(false);
    }
}

bool SqliteSession::execute(const QString& sql) { return mayWrite() && exec(sqliteStatement(sql)); }

bool SqliteSession::exec(const QString& sql)
{
    if (!db)
        return fail(closedReason);
    const int rc = sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, nullptr);
    endWait();
    return rc == SQLITE_OK || fail(rc);
}

namespace {
constexpr size_t keptStatements = 16;
} // namespace

sqlite3_stmt* SqliteSession::takePrepared(const QByteArray& sql)
{
    for (auto it = m_prepared.rbegin(); it != m_prepared.rend(); ++it) {
        if (it->first == sql) {
            sqlite3_stmt* statement = it->second;
            m_prepared.erase(std::next(it).base());
            return statement;
        }
    }
    return nullptr;
}

void SqliteSession::keepPrepared(QByteArray sql, sqlite3_stmt* statement)
{
    // A statement that outlived its connection (closed, perhaps opened again on another
    // file) is of no use to the next one.
    if (!db || sqlite3_db_handle(statement) != db) {
        sqlite3_finalize(statement);
        return;
    }
    sqlite3_reset(statement);
    sqlite3_clear_bindings(statement);
    if (m_prepared.size() >= keptStatements) {
        sqlite3_finalize(m_prepared.front().second);
        m_prepared.erase(m_prepared.begin());
    }
    m_prepared.emplace_back(std::move(sql), statement);
}

void SqliteSession::forgetKept()
{
    for (const auto& [sql, statement] : m_prepared)
        sqlite3_finalize(statement);
    m_prepared.clear();
    m_shapes.clear();
    m_results.clear();
}

Statement::Statement(SqliteSession& session, const QString& sql)
    : m_session(&session)
    , m_sql(sql.toUtf8())
{
    if (!session.db) {
        m_code = SQLITE_MISUSE;
        return;
    }
    if ((m_stmt = session.takePrepared(m_sql)))
        return;
    m_code = sqlite3_prepare_v3(session.db, m_sql.constData(), int(m_sql.size()), SQLITE_PREPARE_PERSISTENT,
                                &m_stmt, nullptr);
    session.endWait();
    if (m_code != SQLITE_OK && m_stmt) {
        sqlite3_finalize(m_stmt);
        m_stmt = nullptr;
    }
    if (m_code != SQLITE_OK)
        session.describe(m_code);
    // An empty or comment-only text prepares to nothing.
    if (m_code == SQLITE_OK && !m_stmt)
        m_code = SQLITE_MISUSE;
}

Statement::~Statement()
{
    if (m_stmt)
        m_session->keepPrepared(std::move(m_sql), m_stmt);
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
    m_session->endWait();
    if (m_code != SQLITE_ROW && m_code != SQLITE_DONE)
        m_session->describe(m_code);
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

namespace {

constexpr int lockTimeoutMs = 5000;

// SQLite's own busy timeout, plus word to the window the first time a statement waits.
int waitForLock(void* data, int count)
{
    static constexpr int delays[] = {1, 2, 5, 10, 15, 20, 25, 25, 25, 50, 50, 100};
    constexpr int steps = int(std::size(delays));
    int waited = 0;
    for (int i = 0; i < std::min(count, steps); ++i)
        waited += delays[i];
    const int delay = delays[std::min(count, steps - 1)];
    if (count > steps)
        waited += (count - steps) * delay;
    if (waited + delay > lockTimeoutMs)
        return 0;
    auto* session = static_cast<SqliteSession*>(data);
    if (!session->waiting) {
        session->waiting = true;
        if (session->lockWait)
            session->lockWait(true);
    }
    sqlite3_sleep(delay);
    return 1;
}

// An SQLite URI for a path: "?" and "#" in a folder name must not end the path.
QByteArray fileUri(const QString& path, const char* parameters)
{
    return "file:" + QUrl::toPercentEncoding(path, "/") + parameters;
}

// Why the path cannot be a database, from what the file system says about it; empty when it
// may be one. Nothing here opens the file: in a process that holds a connection to it, closing
// any descriptor of the file would drop every lock SQLite holds on it.
Error pathRefusal(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return {ErrorKind::Missing, QStringLiteral("找不到数据库文件")};
    if (info.isDir())
        return {ErrorKind::Failed, QStringLiteral("数据库文件的位置上是一个文件夹")};
    if (info.size() == 0)
        return {ErrorKind::NotStudentArchive, QStringLiteral("数据库文件是空的（0 字节），里面没有任何数据")};
    if (::access(QFile::encodeName(path).constData(), R_OK) != 0)
        return {ErrorKind::Failed, QStringLiteral("没有读取数据库文件的权限")};
    return {};
}

// The first bytes of the file under an open handle, read through SQLite's own descriptor of
// it, so no other descriptor of the archive is ever opened or closed.
QByteArray headerBytes(sqlite3* db)
{
    sqlite3_file* file = nullptr;
    if (sqlite3_file_control(db, "main", SQLITE_FCNTL_FILE_POINTER, &file) != SQLITE_OK || !file
        || !file->pMethods)
        return {};
    QByteArray header(20, '\0');
    return file->pMethods->xRead(file, header.data(), int(header.size()), 0) == SQLITE_OK ? header
                                                                                          : QByteArray();
}

// The words for a failed first read: an Access file and a file that is no database at all are
// told apart from a damaged one.
Error firstReadFailure(SqliteSession& s, int rc)
{
    static const QByteArray magic("SQLite format 3\0", 16);
    const QByteArray head = isDamageCode(rc) && s.db ? headerBytes(s.db) : QByteArray();
    if (JetFile::hasJetSignature(head))
        return {ErrorKind::NotConverted, JetFile::notConverted};
    if (isDamageCode(rc) && s.db && !head.startsWith(magic))
        return {ErrorKind::NotStudentArchive, QStringLiteral("这个文件不是数据库文件")};
    return {isDamageCode(rc) ? ErrorKind::Damaged : ErrorKind::Failed, s.describe(rc)};
}

bool diskIsFull(const QString& path)
{
    struct statvfs info {};
    return ::statvfs(QFile::encodeName(QFileInfo(path).absolutePath()).constData(), &info) == 0
           && info.f_bavail == 0;
}

// Why a writable file whose writable open failed may still be read: no room left on the disk
// for SQLite's shared-memory file, or a journal that cannot be made. Empty for failures a
// read-only open would only hide.
QString readOnlyCause(SqliteSession& s, int rc, const QString& path)
{
    const int primary = rc & 0xff;
    if ((primary == SQLITE_IOERR || primary == SQLITE_FULL) && diskIsFull(path))
        return QStringLiteral("磁盘已满");
    if (primary == SQLITE_READONLY || primary == SQLITE_CANTOPEN)
        return s.describe(rc);
    return {};
}

bool canWrite(const QString& path)
{
    return ::access(QFile::encodeName(path).constData(), W_OK) == 0
           && ::access(QFile::encodeName(QFileInfo(path).absolutePath()).constData(), W_OK) == 0;
}

} // namespace

DatabaseConnection::DatabaseConnection()
    : m_session(std::make_shared<SqliteSession>())
{
}

std::shared_ptr<DatabaseSession> DatabaseConnection::session() const
{
    if (m_server)
        return m_server;
    return m_session;
}

bool DatabaseConnection::isServerLocation(const QString& location)
{
    return ArchiveLocation::isServerAddress(location);
}

bool DatabaseConnection::openLocation(const QString& location, const QString& requiredTable)
{
    if (isServerLocation(location))
        return openServer(location.trimmed(), requiredTable);
    return openFile(location, requiredTable);
}

bool DatabaseConnection::openDatabaseFile(const QString& path, const QString& /*password*/,
                                          const QString& requiredTable)
{
    if (const QString server = ArchiveLocation::serverFor(path); !server.isEmpty())
        return openServer(server, requiredTable);
    return openFile(path, requiredTable);
}

bool DatabaseConnection::openServer(const QString& uri, const QString& requiredTable)
{
    close();
    auto server = std::make_shared<PostgresSession>();
    m_server = server;
    if (!server->connect(uri))
        return false;
    if (!requiredTable.isEmpty() && !server->tables().contains(requiredTable, Qt::CaseInsensitive)) {
        const Error reason{ErrorKind::NotStudentArchive,
                           QStringLiteral("数据库里没有“%1”表").arg(requiredTable)};
        server->close();
        server->closedReason = reason;
        return server->fail(reason);
    }
    return true;
}

QString DatabaseConnection::location() const { return session()->location(); }

QString DatabaseConnection::describeLocation() const { return session()->describeLocation(); }

DatabaseConnection::PageCheck DatabaseConnection::pageCheck() const
{
    if (m_server)
        return {}; // a server looks after its own pages
    return [file = m_session->path](const std::atomic<bool>* cancel, QString* problem) {
        return checkWholeFile(file, problem, cancel);
    };
}

void DatabaseConnection::preferMappedReads() { session()->preferMappedReads(); }

QStringList DatabaseConnection::tables() const { return session()->tables(); }

DatabaseConnection::~DatabaseConnection() = default;

bool DatabaseConnection::openFile(const QString& path, const QString& requiredTable)
{
    close();
    m_server.reset();
    SqliteSession& s = *m_session;
    s.path = path;
    const auto refuse = [&s](const Error& reason) {
        s.close();
        s.closedReason = reason;
        return s.fail(reason);
    };
    if (const Error refusal = pathRefusal(path); refusal.kind != ErrorKind::None)
        return refuse(refusal);

    // A read-only WAL database still needs its shared-memory file; where that cannot be
    // made, the file is read as immutable, which needs none. A file that may be written but
    // cannot be opened so (no room left on the disk for that file) is still read.
    const bool writable = canWrite(path);
    struct Attempt {
        QByteArray uri;
        int flags;
    };
    QList<Attempt> attempts;
    if (writable)
        attempts << Attempt{fileUri(path, ""), SQLITE_OPEN_READWRITE | SQLITE_OPEN_URI};
    attempts << Attempt{fileUri(path, "?mode=ro"), SQLITE_OPEN_READONLY | SQLITE_OPEN_URI}
             << Attempt{fileUri(path, "?mode=ro&immutable=1"), SQLITE_OPEN_READONLY | SQLITE_OPEN_URI};
    QStringList tables;
    int rc = SQLITE_OK;
    Error failure;        // why the first attempt failed
    QString writeFailure; // why a writable file is opened read-only
    for (const Attempt& attempt : attempts) {
        s.close();
        const bool readWrite = attempt.flags & SQLITE_OPEN_READWRITE;
        rc = sqlite3_open_v2(attempt.uri.constData(), &s.db, attempt.flags, nullptr);
        if (rc == SQLITE_OK) {
            sqlite3_extended_result_codes(s.db, 1);
            // The web server uses the same file at the same time: wait for its short locks
            // instead of failing at once.
            sqlite3_busy_handler(s.db, waitForLock, &s);
            sqlite3_wal_hook(
                s.db,
                [](void* session, sqlite3*, const char*, int) {
                    static_cast<SqliteSession*>(session)->copyLog();
                    return SQLITE_OK;
                },
                &s);
            // sqlite opens lazily: a damaged file fails here, at its first read.
            Statement probe(s, QStringLiteral("SELECT name FROM sqlite_master WHERE type='table'"));
            tables.clear();
            while (probe.isValid() && (rc = probe.step()) == SQLITE_ROW)
                tables << probe.column(0).toString();
            if (!probe.isValid())
                rc = probe.code();
            if (rc == SQLITE_DONE)
                break;
        }
        const Error reason = firstReadFailure(s, rc);
        if (failure.kind == ErrorKind::None)
            failure = reason;
        if (readWrite) {
            writeFailure = readOnlyCause(s, rc, path);
            if (writeFailure.isEmpty())
                break;
        }
    }
    if (rc != SQLITE_DONE)
        return refuse(failure);
    if (tables.isEmpty())
        return refuse(
            {ErrorKind::NotStudentArchive, QStringLiteral("数据库文件里没有任何表，不是学生数据库")});
    if (!requiredTable.isEmpty() && !tables.contains(requiredTable, Qt::CaseInsensitive))
        return refuse(
            {ErrorKind::NotStudentArchive, QStringLiteral("数据库文件里没有“%1”表").arg(requiredTable)});

    s.readOnly = !writable || !writeFailure.isEmpty();
    if (!writeFailure.isEmpty())
        s.readOnlyReason = writeFailure + QStringLiteral("，数据库只能查看，不能写入");
    // Every commit a window reports is on disk before it says so; WAL keeps that at one sync
    // per commit.
    s.exec(QStringLiteral("PRAGMA synchronous=FULL"));
    s.closedReason = {ErrorKind::Failed, QStringLiteral("数据库已关闭")};
    s.lastError = {};
    return true;
}

bool DatabaseConnection::createInMemory()
{
    close();
    m_server.reset();
    const int rc =
        sqlite3_open_v2(":memory:", &m_session->db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (rc != SQLITE_OK) {
        m_session->fail(rc);
        m_session->close();
        return false;
    }
    sqlite3_extended_result_codes(m_session->db, 1);
    m_session->lastError = {};
    return true;
}

QByteArray DatabaseConnection::fileBytes() const
{
    if (!m_session->db)
        return {};
    sqlite3_int64 size = 0;
    unsigned char* data = sqlite3_serialize(m_session->db, "main", &size, 0);
    if (!data)
        return {};
    QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    sqlite3_free(data);
    // In WAL mode from the start, so the program and the web server share it at once. The
    // mode is two bytes of the header: the read and write format versions, 2 for WAL.
    if (bytes.size() >= 20)
        bytes[18] = bytes[19] = 2;
    return bytes;
}

bool DatabaseConnection::isReadOnly() const { return m_session->db && m_session->readOnly; }

QString DatabaseConnection::readOnlyReason() const
{
    return !m_server && m_session->db ? m_session->readOnlyReason : QString();
}

bool DatabaseConnection::isDamaged() const { return !session()->damage.isEmpty(); }

void DatabaseConnection::markDamaged(const QString& reason)
{
    session()->damage = reason.isEmpty() ? damagedReason : reason;
}

void DatabaseConnection::setLockWaitHandler(std::function<void(bool waiting)> handler)
{
    m_session->lockWait = std::move(handler);
}

bool DatabaseConnection::fileHoldsData(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists() || (info.isFile() && info.size() == 0))
        return false;
    if (!info.isFile())
        return true;
    SqliteSession s;
    if (sqlite3_open_v2(fileUri(path, "?mode=ro").constData(), &s.db, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI,
                        nullptr)
        != SQLITE_OK)
        return true;
    Statement count(s, QStringLiteral("SELECT count(*) FROM sqlite_master"));
    return !count.isValid() || count.step() != SQLITE_ROW || count.column(0).toLongLong() > 0;
}

bool DatabaseConnection::checkWholeFile(const QString& path, QString* problem,
                                        const std::atomic<bool>* cancel)
{
    const auto found = [problem](const QString& what) {
        if (problem)
            *problem = what;
        return false;
    };
    if (const Error refusal = pathRefusal(path); refusal.kind != ErrorKind::None)
        return found(refusal.text);
    SqliteSession s;
    int rc = SQLITE_OK;
    QStringList findings;
    for (const char* parameters : {"?mode=ro", "?mode=ro&immutable=1"}) {
        s.close();
        findings.clear();
        rc = sqlite3_open_v2(fileUri(path, parameters).constData(), &s.db,
                             SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr);
        if (rc != SQLITE_OK)
            continue;
        sqlite3_busy_timeout(s.db, lockTimeoutMs);
        if (cancel)
            sqlite3_progress_handler(
                s.db, 10000, [](void* flag) { return int(static_cast<std::atomic<bool>*>(flag)->load()); },
                const_cast<std::atomic<bool>*>(cancel));
        Statement check(s, QStringLiteral("PRAGMA quick_check"));
        while (check.isValid() && (rc = check.step()) == SQLITE_ROW)
            findings << check.column(0).toString();
        if (!check.isValid())
            rc = check.code();
        if (rc == SQLITE_DONE || (rc & 0xff) == SQLITE_INTERRUPT || isDamageCode(rc))
            break;
    }
    if ((rc & 0xff) == SQLITE_INTERRUPT)
        return true;
    if (rc != SQLITE_DONE)
        return found(firstReadFailure(s, rc).text);
    if (findings != QStringList{QStringLiteral("ok")})
        return found(damagedReason + QStringLiteral("（") + findings.value(0) + QStringLiteral("）"));
    return true;
}

void DatabaseConnection::prepareForManyThreads()
{
    // SQLite counts its memory under one lock that every page of every thread would take.
    sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
    // A connection is used by one page at a time (taken from the pool for the page and given
    // back after it; no Session or Application value holds one), so SQLite need not lock a
    // connection at every call.
    sqlite3_config(SQLITE_CONFIG_MULTITHREAD);
}

bool DatabaseConnection::openConnectionString(const QString& connectionString, SourceOpener opener)
{
    close();
    m_server.reset();
    if (opener(*m_session, connectionString))
        return true;
    m_session->closedReason = m_session->lastError; // what later calls on it say
    return false;
}

bool DatabaseConnection::execute(const QString& sql) { return session()->execute(sql); }

void DatabaseConnection::close()
{
    if (m_server)
        m_server->close();
    if (m_session->db)
        m_session->closedReason = {ErrorKind::Failed, QStringLiteral("数据库已关闭")};
    m_session->close();
}

bool DatabaseConnection::isOpen() const { return session()->isOpen(); }

QString DatabaseConnection::lastError() const { return session()->lastError.text; }

ErrorKind DatabaseConnection::lastErrorKind() const { return session()->lastError.kind; }

bool DatabaseConnection::beginTransaction() { return session()->begin(); }

bool DatabaseConnection::commitTransaction() { return session()->commit(); }

void DatabaseConnection::rollbackTransaction() { session()->rollback(); }

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
