// SPDX-License-Identifier: GPL-3.0-or-later
// What a recordset asks of an SQLite archive: rows by rowid, byte columns left on disk.
#include "archive/SqliteSession.h"
#include "archive/JetDialect.h"
#include "archive/SqlText.h"

#include <QCoreApplication>
#include <QDir>
#include <QThread>
#include <QTimer>

#include <iterator>

#include <unordered_map>

namespace {

QString quotedIdentifier(const QString& name)
{
    QString text = name;
    text.replace(u'"', QStringLiteral("\"\""));
    return u'"' + text + u'"';
}

bool isByteColumn(const QString& declaredType)
{
    const QString type = declaredType.toUpper();
    return type.contains(u"BLOB") || type.contains(u"OLE") || type.contains(u"BINARY");
}

// Copies as much of the write-ahead log into the database file as readers allow, without
// waiting for anyone; true when the file now holds every commit (also when it keeps no log).
bool copyLogIntoFile(sqlite3* db)
{
    int logged = 0;
    int copied = 0;
    return sqlite3_wal_checkpoint_v2(db, "main", SQLITE_CHECKPOINT_PASSIVE, &logged, &copied) == SQLITE_OK
           && copied >= logged;
}

// When the window's thread tries again to copy what readers held back: two seconds in all,
// long enough for the web server's pages and the sqlite3 shell's queries to end.
constexpr int copyRetryMs[] = {10, 20, 40, 80, 150, 300, 500, 500, 500};

} // namespace

QString SqliteSession::describeLocation() const
{
    return QStringLiteral("数据库（文件）：") + QDir::toNativeSeparators(path);
}

// A class list reads every student's fields stored after the photo, walking the photo's
// pages: mapped, they are read where the system keeps them instead of copied into each
// connection.
void SqliteSession::preferMappedReads()
{
    if (db)
        exec(QStringLiteral("PRAGMA mmap_size=268435456"));
}

QStringList SqliteSession::tables()
{
    QStringList names;
    if (!db)
        return names;
    Statement query(
        *this,
        QStringLiteral("SELECT name FROM sqlite_master WHERE type='table' AND name NOT LIKE 'sqlite_%'"));
    while (query.isValid() && query.step() == SQLITE_ROW)
        names << query.column(0).toString();
    return names;
}

bool SqliteSession::openTable(const QString& table, const QString& jetRest, ResultRows& rows)
{
    const QString rest = sqliteStatement(jetRest);
    // The version and the rows are read in one transaction: the rows are that version's.
    const OneRead read(*this);
    const auto now = version();
    if (!now)
        return false;
    if (const KeptResult* kept = keptResult(table, rest); kept && kept->version == *now) {
        rows = kept->rows;
        return true;
    }
    const TableShape* shape = shapeOf(table, now->schema);
    if (!shape)
        return false;
    // Without an order SQLite answers in the order of whichever index it walks, so a student
    // whose gender changed would move within the class.
    Statement query(*this, QStringLiteral("SELECT rowid, ") + shape->eagerList + QStringLiteral(" FROM ")
                               + table + inStoredOrder(rest, QStringLiteral("rowid")));
    if (!query.isValid())
        return false;
    const int n = int(shape->columns.size());
    int rc;
    while ((rc = query.step()) == SQLITE_ROW) {
        rows.keys.push_back(sqlite3_column_int64(query.handle(), 0));
        for (int c = 0, e = 1; c < n; ++c)
            rows.cells.push_back(shape->deferred[size_t(c)] ? QVariant() : query.column(e++));
    }
    if (rc != SQLITE_DONE)
        return fail(sqlite3_extended_errcode(db));
    rows.deferredRead.assign(rows.keys.size(), shape->deferredList.isEmpty());
    rows.selectList = shape->selectList;
    rows.deferredList = shape->deferredList;
    rows.condition = rest;
    rows.deferred = shape->deferred;
    rows.table = table;
    rows.keyColumn = QStringLiteral("rowid");
    rows.columns = shape->columns;
    rows.bytes = shape->bytes;
    keepResult(table, rest, *now, rows);
    return true;
}

SqliteSession::OneRead::OneRead(SqliteSession& session)
    : m_session(session)
{
    // Inside a transaction already open, what is read is that transaction's anyway.
    if (session.db && sqlite3_get_autocommit(session.db)) {
        Statement begin(session, QStringLiteral("BEGIN"));
        m_began = begin.isValid() && begin.step() == SQLITE_DONE;
    }
}

SqliteSession::OneRead::~OneRead()
{
    if (m_began && m_session.db && !sqlite3_get_autocommit(m_session.db)) {
        Statement end(m_session, QStringLiteral("COMMIT"));
        if (end.isValid())
            end.step();
    }
}

std::optional<SqliteSession::Version> SqliteSession::version()
{
    // Reading the schema's version begins the read transaction whose data version the file
    // then tells.
    Statement schema(*this, QStringLiteral("PRAGMA schema_version"));
    if (!schema.isValid() || schema.step() != SQLITE_ROW)
        return std::nullopt;
    unsigned data = 0;
    if (sqlite3_file_control(db, "main", SQLITE_FCNTL_DATA_VERSION, &data) != SQLITE_OK)
        return std::nullopt;
    return Version{qint64(data), sqlite3_total_changes64(db), sqlite3_column_int64(schema.handle(), 0)};
}

SqliteSession::KeptResult* SqliteSession::keptResult(const QString& table, const QString& rest)
{
    for (auto it = m_results.rbegin(); it != m_results.rend(); ++it) {
        if (it->table == table && it->rest == rest)
            return &*it;
    }
    return nullptr;
}

void SqliteSession::keepResult(const QString& table, const QString& rest, const Version& version,
                               const ResultRows& rows)
{
    // A workbook's table changes outside SQLite; a large result is not worth its memory.
    constexpr size_t keptResults = 8, keptRows = 1000;
    if (afterChange || rows.keys.size() > keptRows)
        return;
    std::erase_if(m_results, [&](const KeptResult& k) { return k.table == table && k.rest == rest; });
    if (m_results.size() >= keptResults)
        m_results.erase(m_results.begin());
    m_results.push_back(KeptResult{table, rest, version, rows});
}

// PRAGMA table_info is prepared anew at every run; the schema's version tells when the
// columns last asked are still the columns.
const SqliteSession::TableShape* SqliteSession::shapeOf(const QString& table, qint64 schema)
{
    if (const auto it = m_shapes.find(table); it != m_shapes.end() && it->second.schema == schema)
        return &it->second;

    TableShape shape;
    shape.schema = schema;
    Statement info(*this, QStringLiteral("PRAGMA table_info(") + table + u')');
    while (info.isValid() && info.step() == SQLITE_ROW) {
        shape.columns << info.column(1).toString();
        shape.bytes.push_back(isByteColumn(info.column(2).toString()));
    }
    if (shape.columns.isEmpty())
        return nullptr;

    QStringList all, eager, deferred;
    bool afterBytes = false;
    for (qsizetype i = 0; i < shape.columns.size(); ++i) {
        const bool bytes = shape.bytes[size_t(i)];
        const QString name = quotedIdentifier(shape.columns[i]);
        const QString item = bytes ? QStringLiteral("length(") + name + u')' : name;
        // A byte column's length comes from the record header; a text column after it does
        // not: reading it means walking the photo's overflow pages, so it waits until read.
        shape.deferred.push_back(afterBytes && !bytes);
        afterBytes = afterBytes || bytes;
        all << item;
        (shape.deferred.back() ? deferred : eager) << item;
    }
    shape.selectList = QStringLiteral("rowid, ") + all.join(u", ");
    shape.eagerList = eager.join(u", ");
    shape.deferredList = deferred.join(u", ");

    if (m_shapes.size() > 32)
        m_shapes.clear();
    return &(m_shapes[table] = std::move(shape));
}

bool SqliteSession::openQuery(const QString& sql, ResultRows& rows)
{
    Statement query(*this, sqliteStatement(sql));
    if (!query.isValid())
        return fail(sqlite3_extended_errcode(db));
    const int n = sqlite3_column_count(query.handle());
    for (int c = 0; c < n; ++c)
        rows.columns << QString::fromUtf8(sqlite3_column_name(query.handle(), c));
    rows.bytes.assign(size_t(n), false);
    rows.deferred.assign(size_t(n), false);
    int rc;
    while ((rc = query.step()) == SQLITE_ROW) {
        rows.keys.push_back(0);
        for (int c = 0; c < n; ++c)
            rows.cells.push_back(query.column(c));
    }
    rows.deferredRead.assign(rows.keys.size(), true);
    return rc == SQLITE_DONE || fail(sqlite3_extended_errcode(db));
}

void SqliteSession::readDeferred(ResultRows& rows, qsizetype row)
{
    // Whoever reads one row's late columns reads the next rows' too (a list prints every
    // student): one query for all rows, with the query's own condition, which an index
    // holding those columns answers without walking each photo.
    std::unordered_map<qint64, size_t> pending;
    for (size_t r = 0; r < rows.keys.size(); ++r) {
        if (!rows.deferredRead[r])
            pending.emplace(rows.keys[r], r);
    }
    rows.deferredRead[size_t(row)] = true;
    const bool all =
        pending.size() > 1 && !rows.condition.contains(QLatin1String("limit"), Qt::CaseInsensitive);
    const OneRead read(*this);
    const auto now = all ? version() : std::nullopt;
    Statement query(*this, all ? QStringLiteral("SELECT rowid, ") + rows.deferredList
                                     + QStringLiteral(" FROM ") + rows.table + rows.condition
                               : QStringLiteral("SELECT rowid, ") + rows.deferredList
                                     + QStringLiteral(" FROM ") + rows.table
                                     + QStringLiteral(" WHERE rowid=?"));
    if (!query.isValid()) {
        fail(sqlite3_extended_errcode(db));
        return;
    }
    if (!all)
        query.bind(1, rows.keys[size_t(row)]);
    const size_t n = size_t(rows.columns.size());
    while (query.step() == SQLITE_ROW) {
        const auto it = all ? pending.find(sqlite3_column_int64(query.handle(), 0)) : pending.end();
        const size_t r = all ? (it == pending.end() ? rows.keys.size() : it->second) : size_t(row);
        if (r >= rows.keys.size())
            continue;
        rows.deferredRead[r] = true;
        for (size_t c = 0, d = 1; c < n; ++c) {
            if (rows.deferred[c])
                rows.cells[r * n + c] = query.column(int(d++));
        }
        if (!all)
            break;
    }
    // The kept result of that version gets these too: a result the recordset has changed
    // since is another version.
    if (KeptResult* kept = now ? keptResult(rows.table, rows.condition) : nullptr;
        kept && kept->version == *now)
        kept->rows = rows;
}

std::optional<std::vector<QVariant>> SqliteSession::fetchRow(const ResultRows& rows, qint64 key)
{
    Statement query(*this, QStringLiteral("SELECT ") + rows.selectList + QStringLiteral(" FROM ") + rows.table
                               + QStringLiteral(" WHERE rowid=?"));
    if (!query.isValid())
        return std::nullopt;
    query.bind(1, key);
    if (query.step() != SQLITE_ROW)
        return std::nullopt;
    std::vector<QVariant> row;
    for (qsizetype c = 0; c < rows.columns.size(); ++c)
        row.push_back(query.column(int(c) + 1));
    return row;
}

std::optional<QByteArray> SqliteSession::readBytes(const ResultRows& rows, int column, qint64 key)
{
    Statement query(*this, QStringLiteral("SELECT ") + quotedIdentifier(rows.columns[column])
                               + QStringLiteral(" FROM ") + rows.table + QStringLiteral(" WHERE rowid=?"));
    if (!query.isValid()) {
        fail(sqlite3_extended_errcode(db));
        return std::nullopt;
    }
    query.bind(1, key);
    if (query.step() != SQLITE_ROW)
        return std::nullopt;
    const QVariant bytes = query.column(0);
    return bytes.typeId() == QMetaType::QByteArray ? bytes.toByteArray() : bytes.toString().toUtf8();
}

bool SqliteSession::changed() { return !afterChange || afterChange(*this); }

std::optional<qint64> SqliteSession::insert(const ResultRows& rows,
                                            const std::vector<std::pair<int, QVariant>>& values)
{
    QStringList names, marks;
    for (const auto& [c, value] : values) {
        names << quotedIdentifier(rows.columns[c]);
        marks << QStringLiteral("?");
    }
    const QString sql =
        names.isEmpty() ? QStringLiteral("INSERT INTO ") + rows.table + QStringLiteral(" DEFAULT VALUES")
                        : QStringLiteral("INSERT INTO ") + rows.table + QStringLiteral(" (")
                              + names.join(u", ") + QStringLiteral(") VALUES (") + marks.join(u", ") + u')';
    Statement statement(*this, sql);
    if (!statement.isValid()) {
        fail(sqlite3_extended_errcode(db));
        return std::nullopt;
    }
    int index = 1;
    for (const auto& [c, value] : values)
        statement.bind(index++, value);
    if (statement.step() != SQLITE_DONE) {
        fail(sqlite3_extended_errcode(db));
        return std::nullopt;
    }
    if (!changed())
        return std::nullopt;
    return sqlite3_last_insert_rowid(db);
}

int SqliteSession::update(const ResultRows& rows, const std::vector<std::pair<int, QVariant>>& values,
                          qint64 key)
{
    QStringList names;
    for (const auto& [c, value] : values)
        names << quotedIdentifier(rows.columns[c]);
    Statement statement(*this, QStringLiteral("UPDATE ") + rows.table + QStringLiteral(" SET ")
                                   + names.join(QStringLiteral("=?, ")) + QStringLiteral("=? WHERE rowid=?"));
    if (!statement.isValid())
        return fail(sqlite3_extended_errcode(db)), -1;
    int index = 1;
    for (const auto& [c, value] : values)
        statement.bind(index++, value);
    statement.bind(index, key);
    if (statement.step() != SQLITE_DONE)
        return fail(sqlite3_extended_errcode(db)), -1;
    const int count = sqlite3_changes(db);
    if (count > 0 && !changed())
        return -1;
    return count;
}

bool SqliteSession::remove(const ResultRows& rows, qint64 key)
{
    Statement statement(*this,
                        QStringLiteral("DELETE FROM ") + rows.table + QStringLiteral(" WHERE rowid=?"));
    if (!statement.isValid())
        return fail(sqlite3_extended_errcode(db));
    statement.bind(1, key);
    if (statement.step() != SQLITE_DONE)
        return fail(sqlite3_extended_errcode(db));
    return changed();
}

bool SqliteSession::beginRun(const QString& name)
{
    return mayWrite() && exec(QStringLiteral("SAVEPOINT ") + name);
}

bool SqliteSession::endRun(const QString& name, bool keep)
{
    if (keep && exec(QStringLiteral("RELEASE ") + name))
        return true;
    const Error reason = lastError;
    exec(QStringLiteral("ROLLBACK TO ") + name);
    exec(QStringLiteral("RELEASE ") + name);
    lastError = reason;
    return false;
}

bool SqliteSession::begin() { return mayWrite() && exec(QStringLiteral("BEGIN IMMEDIATE")); }

bool SqliteSession::commit() { return exec(QStringLiteral("COMMIT")); }

void SqliteSession::rollback()
{
    if (db && !sqlite3_get_autocommit(db))
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
}

void SqliteSession::copyLog()
{
    if (!copyLogIntoFile(db))
        copyLogLater(0);
}

void SqliteSession::copyLogLater(int attempt)
{
    // Only the window's thread has an event loop to come back to; elsewhere the next commit or
    // the close of the connection copies what is left.
    const QCoreApplication* app = QCoreApplication::instance();
    if (!app || QThread::currentThread() != app->thread() || attempt >= int(std::size(copyRetryMs))
        || m_copyPending)
        return;
    if (!m_copyRetries)
        m_copyRetries = std::make_unique<QObject>();
    m_copyPending = true;
    QTimer::singleShot(copyRetryMs[attempt], m_copyRetries.get(), [this, attempt] {
        m_copyPending = false;
        // Not inside a transaction this connection has open.
        if (db && (!sqlite3_get_autocommit(db) || !copyLogIntoFile(db)))
            copyLogLater(attempt + 1);
    });
}

namespace {

bool isTableStatement(QStringView sql)
{
    sql = sql.trimmed();
    return sql.startsWith(u"CREATE", Qt::CaseInsensitive) || sql.startsWith(u"ALTER", Qt::CaseInsensitive);
}

} // namespace

QString sqliteStatement(const QString& sql)
{
    using namespace JetDialect;
    // Most statements need nothing, and the web server's pages send them again and again.
    const bool tableStatement = isTableStatement(sql);
    if (!tableStatement && !sql.contains(u'#'))
        return sql;
    const std::vector<Token> list = tokens(sql);
    QString out;
    out.reserve(sql.size() + 32);
    for (qsizetype i = 0; i < qsizetype(list.size()); ++i) {
        const Token& token = list[size_t(i)];
        if (token.kind == TokenKind::Date) {
            out += dateValue(token);
            continue;
        }
        const ColumnType type =
            tableStatement && isColumnType(list, i) ? columnType(token) : ColumnType::Other;
        if (type == ColumnType::Counter)
            out += QStringLiteral("INTEGER PRIMARY KEY AUTOINCREMENT");
        else if (type == ColumnType::Bytes)
            out += QStringLiteral("BLOB");
        else if (type == ColumnType::Text)
            out += QStringLiteral("TEXT");
        else
            out += token.text;
        if (type == ColumnType::Text)
            i = afterSize(list, i) - 1;
    }
    return out;
}
