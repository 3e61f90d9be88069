// SPDX-License-Identifier: GPL-3.0-or-later
#include "archive/PostgresSession.h"

#include "archive/JetDialect.h"
#include "archive/SqlText.h"

#include <QThread>

#include <algorithm>

#include <libpq-fe.h>

#include <memory>

#include <poll.h>

namespace {

// The hidden key of a table that has no generated `id` of its own.
const QString hiddenKey = QStringLiteral("qinghe_row");
const QString unreachablePrefix = QStringLiteral("连接不上数据库服务器：");

Error lostInTransaction()
{
    return {ErrorKind::ServerUnreachable,
            unreachablePrefix + QStringLiteral("连接在事务中断开，这次的修改没有保存")};
}

// Every explicit transaction of every station takes this lock first, so two stations'
// transactions run one after the other, as they do on the file: numbering a class never
// interleaves with another station's numbering, and no deadlock can arise between them.
constexpr qint64 transactionLock = 0x51494e4748450001;

constexpr Oid boolOid = 16, byteaOid = 17, int8Oid = 20, int2Oid = 21, int4Oid = 23, float4Oid = 700,
              float8Oid = 701, numericOid = 1700;

QString quotedName(const QString& name)
{
    QString text = name;
    text.replace(u'"', QStringLiteral("\"\""));
    return u'"' + text + u'"';
}

QString trimmedMessage(const char* message) { return QString::fromUtf8(message ? message : "").trimmed(); }

bool isRetryable(const QByteArray& state)
{
    return state == "40001" || state == "40P01"; // serialization failure, deadlock detected
}

QVariant textValue(const char* value, int length, Oid type)
{
    const QByteArray bytes(value, length);
    switch (type) {
    case int2Oid:
    case int4Oid:
    case int8Oid:
        return QVariant(bytes.toLongLong());
    case float4Oid:
    case float8Oid:
    case numericOid:
        return QVariant(bytes.toDouble());
    case boolOid:
        return QVariant(qint64(bytes == "t" ? -1 : 0)); // the original format's True
    case byteaOid:
        return QVariant(QByteArray::fromHex(bytes.startsWith("\\x") ? bytes.mid(2) : bytes));
    default:
        return QVariant(QString::fromUtf8(bytes));
    }
}

} // namespace

struct PostgresSession::Result {
    std::unique_ptr<PGresult, void (*)(PGresult*)> handle{nullptr, PQclear};

    int rows() const { return PQntuples(handle.get()); }
    int columns() const { return PQnfields(handle.get()); }
    QString name(int column) const { return QString::fromUtf8(PQfname(handle.get(), column)); }
    QVariant value(int row, int column) const
    {
        if (PQgetisnull(handle.get(), row, column))
            return {};
        return textValue(PQgetvalue(handle.get(), row, column), PQgetlength(handle.get(), row, column),
                         PQftype(handle.get(), column));
    }
    QByteArray bytes(int row, int column) const
    {
        return QByteArray(PQgetvalue(handle.get(), row, column), PQgetlength(handle.get(), row, column));
    }
};

PostgresSession::~PostgresSession() { close(); }

bool PostgresSession::connect(const QString& uri)
{
    close();
    m_uri = uri;
    m_wanted = true;
    return reconnect();
}

bool PostgresSession::reconnect()
{
    if (m_conn)
        PQfinish(m_conn);
    const QByteArray target = m_uri.toUtf8();
    // A server that does not answer must not keep a window waiting for minutes; the address
    // may still say otherwise.
    const char* keywords[] = {"connect_timeout", "application_name", "dbname", nullptr};
    const char* values[] = {"5", "qinghe", target.constData(), nullptr};
    m_conn = PQconnectdbParams(keywords, values, 1);
    if (!m_conn || PQstatus(m_conn) != CONNECTION_OK) {
        fail(serverReason());
        if (m_conn)
            PQfinish(m_conn);
        m_conn = nullptr;
        return false;
    }
    PQsetClientEncoding(m_conn, "UTF8");
    // The server's notices (a shutdown under way) are no message for the user; its errors
    // are, and come with each failed statement.
    PQsetNoticeProcessor(
        m_conn, [](void*, const char*) {}, nullptr);
    // Quotes doubled are the only escape the program's SQL texts use; a backslash is a letter.
    PQclear(PQexec(m_conn, "SET standard_conforming_strings = on"));
    lastError = {};
    return true;
}

// Answers while the connection is meant to be open, reachable or not: every action then
// tries the server again and says why it cannot reach it.
bool PostgresSession::isOpen() const { return m_wanted; }

void PostgresSession::close()
{
    if (m_conn)
        PQfinish(m_conn);
    if (m_wanted)
        closedReason = {ErrorKind::Failed, QStringLiteral("数据库已关闭")};
    m_conn = nullptr;
    m_wanted = false;
    m_runs.clear();
    m_transaction = false;
    m_transactionLost = false;
}

Error PostgresSession::serverReason() const
{
    const QString reason = m_conn ? trimmedMessage(PQerrorMessage(m_conn)) : QStringLiteral("内存不足");
    return {ErrorKind::ServerUnreachable,
            unreachablePrefix + (reason.isEmpty() ? QStringLiteral("连接已断开") : reason)};
}

bool PostgresSession::inTransaction() const { return m_transaction || !m_runs.empty(); }

void PostgresSession::noteLostConnection()
{
    if (inTransaction())
        m_transactionLost = true;
}

// A connection broken since the last statement is made again, unless a transaction was
// open on it: then it stays refused until that transaction is ended, so the rest of the
// transaction cannot land on its own.
// Between statements nothing should arrive but notices; a closed socket means the server
// ended the connection.
bool PostgresSession::socketAlive()
{
    for (int i = 0; i < 4; ++i) {
        pollfd descriptor{PQsocket(m_conn), POLLIN, 0};
        if (::poll(&descriptor, 1, 0) <= 0)
            return true;
        if (PQconsumeInput(m_conn) == 0 || PQstatus(m_conn) != CONNECTION_OK)
            return false;
    }
    return PQstatus(m_conn) == CONNECTION_OK;
}

bool PostgresSession::reachable()
{
    if (!m_wanted) {
        fail(closedReason);
        return false;
    }
    if (m_transactionLost) {
        fail(lostInTransaction());
        return false;
    }
    // A server restarted since the last statement has said goodbye on the socket: reading
    // what waits there finds that out before a statement is sent into the void.
    if (m_conn && PQstatus(m_conn) == CONNECTION_OK && !socketAlive()) {
        if (inTransaction()) {
            noteLostConnection();
            fail(lostInTransaction());
            return false;
        }
    }
    if (m_conn && PQstatus(m_conn) == CONNECTION_OK)
        return true;
    return reconnect();
}

std::optional<PostgresSession::Result>
PostgresSession::run(const QString& sql, const std::vector<QVariant>& parameters, bool binaryResult)
{
    if (!reachable())
        return std::nullopt;
    const QByteArray text = sql.toUtf8();
    // libpq takes statements and text values as C strings: a NUL would cut them short, and
    // the server keeps no text with one.
    const auto holdsNul = [](const QVariant& p) {
        return p.isValid() && p.typeId() != QMetaType::QByteArray && p.toString().contains(QChar(0));
    };
    if (text.contains('\0') || std::any_of(parameters.cbegin(), parameters.cend(), holdsNul)) {
        fail(nulRefused);
        return std::nullopt;
    }
    std::vector<QByteArray> storage;
    std::vector<const char*> values;
    std::vector<int> lengths, formats;
    storage.reserve(parameters.size());
    for (const QVariant& p : parameters) {
        if (!p.isValid()) {
            values.push_back(nullptr);
            lengths.push_back(0);
            formats.push_back(0);
            continue;
        }
        const bool bytes = p.typeId() == QMetaType::QByteArray;
        storage.push_back(bytes ? p.toByteArray() : p.toString().toUtf8());
        values.push_back(storage.back().constData());
        lengths.push_back(int(storage.back().size()));
        formats.push_back(bytes ? 1 : 0);
    }

    for (int attempt = 0;; ++attempt) {
        Result result;
        result.handle.reset(PQexecParams(m_conn, text.constData(), int(values.size()), nullptr, values.data(),
                                         lengths.data(), formats.data(), binaryResult ? 1 : 0));
        const ExecStatusType status = result.handle ? PQresultStatus(result.handle.get()) : PGRES_FATAL_ERROR;
        if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK)
            return result;
        if (PQstatus(m_conn) != CONNECTION_OK) {
            noteLostConnection();
            fail(serverReason());
            return std::nullopt;
        }
        const QByteArray state(result.handle ? PQresultErrorField(result.handle.get(), PG_DIAG_SQLSTATE)
                                             : "");
        // Inside a transaction the whole transaction has failed; only its owner can try again.
        if (isRetryable(state) && !inTransaction() && attempt < 5) {
            QThread::msleep(10u << attempt);
            continue;
        }
        const QString message = trimmedMessage(
            result.handle ? PQresultErrorField(result.handle.get(), PG_DIAG_MESSAGE_PRIMARY) : nullptr);
        if (state == "42501")
            fail(QStringLiteral("没有访问数据库的权限：") + message);
        else if (isRetryable(state))
            fail(QStringLiteral("数据库正忙，请再试一次：") + message);
        else
            fail(QStringLiteral("数据库错误：") + (message.isEmpty() ? serverReason().text : message));
        return std::nullopt;
    }
}

bool PostgresSession::command(const QString& sql) { return run(sql).has_value(); }

bool PostgresSession::commitNow()
{
    const auto result = run(QStringLiteral("COMMIT"));
    if (!result)
        return false;
    // The server answers a COMMIT of a transaction in which a statement failed by rolling
    // it all back.
    if (qstrcmp(PQcmdStatus(result->handle.get()), "ROLLBACK") == 0)
        return fail(QStringLiteral("数据库错误：其中一步没有成功，这次的修改全部撤销"));
    return true;
}

bool PostgresSession::mayWrite()
{
    if (!m_wanted) {
        fail(closedReason);
        return false;
    }
    if (!damage.isEmpty()) {
        fail(damage, ErrorKind::Damaged);
        return false;
    }
    return true;
}

bool PostgresSession::execute(const QString& sql)
{
    const QString statement = postgresStatement(sql);
    if (statement.isEmpty())
        return true; // an SQLite pragma: nothing to do on a server
    return mayWrite() && command(statement);
}

QString PostgresSession::describeLocation() const { return QStringLiteral("数据库（服务器）：") + m_uri; }

QStringList PostgresSession::tables()
{
    QStringList names;
    if (const auto result =
            run(QStringLiteral("SELECT tablename FROM pg_tables WHERE schemaname = current_schema()"))) {
        for (int r = 0; r < result->rows(); ++r)
            names << result->value(r, 0).toString();
    }
    return names;
}

bool PostgresSession::openTable(const QString& table, const QString& rest, ResultRows& rows)
{
    const QString name = postgresStatement(table);
    const auto info =
        run(QStringLiteral("SELECT a.attname, a.atttypid = 17, a.attidentity <> '' FROM pg_attribute a "
                           "WHERE a.attrelid = to_regclass($1) AND a.attnum > 0 AND NOT a.attisdropped "
                           "ORDER BY a.attnum"),
            {name});
    if (!info || info->rows() == 0)
        return false;
    QString key;
    QStringList items;
    for (int r = 0; r < info->rows(); ++r) {
        const QString column = info->value(r, 0).toString();
        const bool bytes = info->value(r, 1).toLongLong() != 0;
        if (info->value(r, 2).toLongLong() != 0 && key.isEmpty())
            key = column;
        if (column == hiddenKey)
            continue;
        rows.columns << column;
        rows.bytes.push_back(bytes);
        rows.deferred.push_back(false);
        items << (bytes ? QStringLiteral("octet_length(") + quotedName(column) + u')' : quotedName(column));
    }
    if (key.isEmpty())
        return false; // made by another program: read as it is, not written back

    rows.selectList = quotedName(key) + QStringLiteral(", ") + items.join(u", ");
    // Updated rows move on a server's disk; the list keeps the order they were stored in.
    const auto result = run(QStringLiteral("SELECT ") + rows.selectList + QStringLiteral(" FROM ") + name
                            + inStoredOrder(postgresStatement(rest), quotedName(key)));
    if (!result)
        return false;
    const int n = int(rows.columns.size());
    rows.keys.reserve(size_t(result->rows()));
    rows.cells.reserve(size_t(result->rows()) * size_t(n));
    for (int r = 0; r < result->rows(); ++r) {
        rows.keys.push_back(result->value(r, 0).toLongLong());
        for (int c = 0; c < n; ++c)
            rows.cells.push_back(result->value(r, c + 1));
    }
    rows.deferredRead.assign(rows.keys.size(), true);
    rows.table = name;
    rows.keyColumn = key;
    return true;
}

bool PostgresSession::openQuery(const QString& sql, ResultRows& rows)
{
    const auto result = run(postgresStatement(sql));
    if (!result)
        return false;
    const int n = result->columns();
    for (int c = 0; c < n; ++c)
        rows.columns << result->name(c);
    rows.bytes.assign(size_t(n), false);
    rows.deferred.assign(size_t(n), false);
    for (int r = 0; r < result->rows(); ++r) {
        rows.keys.push_back(0);
        for (int c = 0; c < n; ++c)
            rows.cells.push_back(result->value(r, c));
    }
    rows.deferredRead.assign(rows.keys.size(), true);
    return true;
}

std::optional<std::vector<QVariant>> PostgresSession::fetchRow(const ResultRows& rows, qint64 key)
{
    const auto result =
        run(QStringLiteral("SELECT ") + rows.selectList + QStringLiteral(" FROM ") + rows.table
                + QStringLiteral(" WHERE ") + quotedName(rows.keyColumn) + QStringLiteral(" = $1"),
            {QVariant(key)});
    if (!result || result->rows() != 1)
        return std::nullopt;
    std::vector<QVariant> row;
    for (int c = 1; c < result->columns(); ++c)
        row.push_back(result->value(0, c));
    return row;
}

std::optional<QByteArray> PostgresSession::readBytes(const ResultRows& rows, int column, qint64 key)
{
    const auto result = run(QStringLiteral("SELECT ") + quotedName(rows.columns[column])
                                + QStringLiteral(" FROM ") + rows.table + QStringLiteral(" WHERE ")
                                + quotedName(rows.keyColumn) + QStringLiteral(" = $1::bigint"),
                            {QVariant(QString::number(key))}, true);
    if (!result || result->rows() != 1)
        return std::nullopt;
    return result->bytes(0, 0);
}

namespace {

// A value as the column takes it: text written into a byte column is its UTF-8 bytes, as
// the file stores it; bytes written into a text column are read as UTF-8.
QVariant columnValue(const QVariant& value, bool bytes)
{
    if (!value.isValid())
        return value;
    if (bytes)
        return value.typeId() == QMetaType::QByteArray ? value : QVariant(value.toString().toUtf8());
    if (value.typeId() == QMetaType::QByteArray)
        return QVariant(QString::fromUtf8(value.toByteArray()));
    return QVariant(value.toString());
}

} // namespace

std::optional<qint64> PostgresSession::insert(const ResultRows& rows,
                                              const std::vector<std::pair<int, QVariant>>& values)
{
    QStringList names, marks;
    std::vector<QVariant> parameters;
    bool keyGiven = false;
    for (const auto& [c, value] : values) {
        names << quotedName(rows.columns[c]);
        marks << QStringLiteral("$%1").arg(parameters.size() + 1);
        parameters.push_back(columnValue(value, rows.bytes[size_t(c)]));
        keyGiven = keyGiven || rows.columns[c] == rows.keyColumn;
    }
    const QString key = quotedName(rows.keyColumn);
    const QString sql =
        names.isEmpty() ? QStringLiteral("INSERT INTO ") + rows.table + QStringLiteral(" DEFAULT VALUES")
                        : QStringLiteral("INSERT INTO ") + rows.table + QStringLiteral(" (")
                              + names.join(u", ") + QStringLiteral(") VALUES (") + marks.join(u", ") + u')';
    const auto result = run(sql + QStringLiteral(" RETURNING ") + key, parameters);
    if (!result || result->rows() != 1)
        return std::nullopt;
    // A record copied with its own id: later records must not be given that id again.
    if (keyGiven
        && !command(QStringLiteral("SELECT setval(pg_get_serial_sequence('") + rows.table
                    + QStringLiteral("', '") + rows.keyColumn + QStringLiteral("'), (SELECT max(") + key
                    + QStringLiteral(") FROM ") + rows.table + QStringLiteral("))")))
        return std::nullopt;
    return result->value(0, 0).toLongLong();
}

int PostgresSession::update(const ResultRows& rows, const std::vector<std::pair<int, QVariant>>& values,
                            qint64 key)
{
    QStringList sets;
    std::vector<QVariant> parameters;
    for (const auto& [c, value] : values) {
        parameters.push_back(columnValue(value, rows.bytes[size_t(c)]));
        sets << quotedName(rows.columns[c]) + QStringLiteral(" = $%1").arg(parameters.size());
    }
    parameters.push_back(QVariant(QString::number(key)));
    const auto result = run(QStringLiteral("UPDATE ") + rows.table + QStringLiteral(" SET ")
                                + sets.join(u", ") + QStringLiteral(" WHERE ") + quotedName(rows.keyColumn)
                                + QStringLiteral(" = $%1::bigint").arg(parameters.size()),
                            parameters);
    if (!result)
        return -1;
    return QByteArray(PQcmdTuples(result->handle.get())).toInt();
}

bool PostgresSession::remove(const ResultRows& rows, qint64 key)
{
    return command(QStringLiteral("DELETE FROM ") + rows.table + QStringLiteral(" WHERE ")
                   + quotedName(rows.keyColumn) + QStringLiteral(" = ") + QString::number(key));
}

bool PostgresSession::beginRun(const QString& name)
{
    const bool opens = !inTransaction();
    if (!command(opens ? QStringLiteral("BEGIN") : QStringLiteral("SAVEPOINT ") + name))
        return false;
    m_runs.emplace_back(name, opens);
    return true;
}

bool PostgresSession::endRun(const QString& name, bool keep)
{
    auto it = std::find_if(m_runs.begin(), m_runs.end(), [&name](const auto& r) { return r.first == name; });
    if (it == m_runs.end())
        return !keep;
    const bool opened = it->second;
    m_runs.erase(it, m_runs.end());
    if (opened) {
        const bool lost = std::exchange(m_transactionLost, false);
        if (lost) {
            fail(lostInTransaction());
            return false;
        }
        if (keep)
            return commitNow();
        command(QStringLiteral("ROLLBACK"));
        return false;
    }
    if (keep)
        return command(QStringLiteral("RELEASE ") + name);
    command(QStringLiteral("ROLLBACK TO ") + name);
    command(QStringLiteral("RELEASE ") + name);
    return false;
}

bool PostgresSession::begin()
{
    if (!mayWrite())
        return false;
    if (inTransaction()) {
        fail(QStringLiteral("数据库错误：已有一个未结束的事务"));
        return false;
    }
    if (!command(QStringLiteral("BEGIN")))
        return false;
    m_transaction = true;
    if (!command(QStringLiteral("SELECT pg_advisory_xact_lock(%1)").arg(transactionLock))) {
        rollback();
        return false;
    }
    return true;
}

bool PostgresSession::commit()
{
    if (!m_transaction) {
        fail(QStringLiteral("数据库错误：没有进行中的事务"));
        return false;
    }
    m_runs.clear();
    if (std::exchange(m_transactionLost, false)) {
        m_transaction = false;
        fail(lostInTransaction());
        return false;
    }
    m_transaction = false;
    return commitNow();
}

void PostgresSession::rollback()
{
    const bool wasLost = std::exchange(m_transactionLost, false);
    if (m_conn && !wasLost && PQstatus(m_conn) == CONNECTION_OK
        && PQtransactionStatus(m_conn) != PQTRANS_IDLE)
        PQclear(PQexec(m_conn, "ROLLBACK"));
    m_transaction = false;
    m_runs.clear();
}

QString postgresStatement(const QString& sql)
{
    using namespace JetDialect;
    const std::vector<Token> list = tokens(sql);
    if (startsWith(list, {u"PRAGMA"}))
        return {}; // an SQLite setting: nothing to do on a server
    const bool create = startsWith(list, {u"CREATE", u"TABLE"});
    const bool tableStatement = create || startsWith(list, {u"ALTER"});
    QString out;
    out.reserve(sql.size() + 64);
    bool hasCounter = false;
    qsizetype lastClose = -1;
    for (qsizetype i = 0; i < qsizetype(list.size()); ++i) {
        const Token& token = list[size_t(i)];
        if (token.kind == TokenKind::Bracket) {
            out += quotedName(nameOf(token));
            continue;
        }
        if (token.kind == TokenKind::Date) {
            out += dateValue(token);
            continue;
        }
        const ColumnType type = tableStatement ? columnType(token) : ColumnType::Other;
        const qsizetype before = type == ColumnType::Counter ? previousCounting(list, i) : -1;
        if (before >= 0 && list[size_t(before)].isWord(u"KEY")) {
            // SQLite's own "INTEGER PRIMARY KEY AUTOINCREMENT".
            out += QStringLiteral("GENERATED BY DEFAULT AS IDENTITY");
            hasCounter = true;
            continue;
        }
        if (type != ColumnType::Other && isColumnType(list, i)) {
            hasCounter = hasCounter || type == ColumnType::Counter;
            out += type == ColumnType::Counter
                       ? QStringLiteral("integer GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY")
                   : type == ColumnType::Bytes ? QStringLiteral("bytea")
                                               : QStringLiteral("text");
            if (type == ColumnType::Text)
                i = afterSize(list, i) - 1;
            continue;
        }
        if (token.isSymbol(u')'))
            lastClose = out.size();
        out += token.text;
    }
    if (create && !hasCounter && lastClose > 0)
        out.insert(lastClose,
                   u',' + hiddenKey + QStringLiteral(" bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY"));
    return out;
}
