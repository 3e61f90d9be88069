// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Recordset.h"

#include "platform/DatabaseConnection.h"
#include "platform/DatabaseSession.h"
#include "platform/SettingText.h"

#include <QRegularExpression>

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

QString variantText(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::UnknownType:
        return {};
    case QMetaType::QByteArray:
        return QString::fromUtf8(value.toByteArray());
    case QMetaType::Double: {
        const double d = value.toDouble();
        // Whole numbers read back as whole numbers: 2014001, not 2.014e+06.
        if (d == double(qint64(d)))
            return QString::number(qint64(d));
        return QString::number(d, 'g', 15);
    }
    default:
        return value.toString();
    }
}

} // namespace

Recordset::Recordset() = default;

Recordset::~Recordset()
{
    // A record never committed goes with the result, as it always has; but records a run
    // already committed must not stay in an open transaction of the connection.
    m_pending.reset();
    settle();
}

void Recordset::attach(const DatabaseConnection& connection)
{
    close();
    m_openFailure.clear();
    m_session = connection.m_session;
}

std::shared_ptr<DatabaseSession> Recordset::session() const
{
    auto s = m_session.lock();
    if (!s || !s->db) {
        fail(s ? s->closedReason : QStringLiteral("数据库未打开"));
        return nullptr;
    }
    return s;
}

QString Recordset::notOpenReason() const
{
    const auto s = m_session.lock();
    if (!s || !s->db)
        return s ? s->closedReason : QStringLiteral("数据库未打开");
    return m_openFailure.isEmpty() ? QStringLiteral("没有打开的查询结果") : m_openFailure;
}

bool Recordset::fail(const QString& message) const
{
    m_lastError = message;
    return false;
}

bool Recordset::failSession(const std::shared_ptr<DatabaseSession>& session) const
{
    return fail(session->describe(sqlite3_extended_errcode(session->db)));
}

void Recordset::reset()
{
    m_table.clear();
    m_selectList.clear();
    m_columns.clear();
    m_lazy.clear();
    m_deferred.clear();
    m_deferredList.clear();
    // Swapped out, not cleared, so a large result gives its memory back.
    std::vector<qint64>().swap(m_rowids);
    std::vector<QVariant>().swap(m_cells);
    std::vector<bool>().swap(m_deferredRead);
    m_current = 0;
    m_onDeletedRecord = false;
    m_pending.reset();
}

bool Recordset::open(const QString& sql)
{
    settle();
    reset();
    const bool opened = openQuery(sql);
    m_openFailure = opened ? QString() : m_lastError;
    return opened;
}

bool Recordset::openQuery(const QString& sql)
{
    const auto s = session();
    if (!s)
        return false;

    // "select * from <table> ..." is the form every window uses: it can be written back and
    // its byte columns can be left on disk. Anything else is read whole and read-only.
    static const QRegularExpression selectStar(
        QStringLiteral("^\\s*select\\s+\\*\\s+from\\s+(\\[[^\\]]+\\]|\"[^\"]+\"|[^\\s;,()]+)(.*)$"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
    if (const auto m = selectStar.match(sql); m.hasMatch()) {
        if (openUpdatable(s, m.captured(1), m.captured(2)))
            return true;
        reset();
    }
    return openReadOnly(s, sql);
}

bool Recordset::openUpdatable(const std::shared_ptr<DatabaseSession>& session, const QString& table,
                              const QString& rest)
{
    QStringList columns;
    std::vector<bool> lazy;
    {
        Statement info(*session, QStringLiteral("PRAGMA table_info(") + table + u')');
        while (info.isValid() && info.step() == SQLITE_ROW) {
            columns << info.column(1).toString();
            lazy.push_back(isByteColumn(info.column(2).toString()));
        }
    }
    if (columns.isEmpty())
        return false;

    QStringList all, eager, deferred;
    std::vector<bool> isDeferred;
    bool afterBytes = false;
    for (qsizetype i = 0; i < columns.size(); ++i) {
        const QString name = quotedIdentifier(columns[i]);
        const QString item = lazy[size_t(i)] ? QStringLiteral("length(") + name + u')' : name;
        // A byte column's length comes from the record header; a text column after it does not.
        isDeferred.push_back(afterBytes && !lazy[size_t(i)]);
        afterBytes = afterBytes || lazy[size_t(i)];
        all << item;
        (isDeferred.back() ? deferred : eager) << item;
    }

    Statement query(*session, QStringLiteral("SELECT rowid, ") + eager.join(u", ") + QStringLiteral(" FROM ")
                                  + table + rest);
    if (!query.isValid())
        return false;
    const int n = int(columns.size());
    int rc;
    while ((rc = query.step()) == SQLITE_ROW) {
        m_rowids.push_back(sqlite3_column_int64(query.handle(), 0));
        for (int c = 0, e = 1; c < n; ++c)
            m_cells.push_back(isDeferred[size_t(c)] ? QVariant() : query.column(e++));
    }
    if (rc != SQLITE_DONE) {
        failSession(session);
        return false;
    }
    m_deferredRead.assign(m_rowids.size(), deferred.isEmpty());
    m_selectList = QStringLiteral("rowid, ") + all.join(u", ");
    m_deferredList = deferred.join(u", ");
    m_deferred = std::move(isDeferred);
    m_table = table;
    m_columns = columns;
    m_lazy = std::move(lazy);
    m_lastError.clear();
    return true;
}

bool Recordset::openReadOnly(const std::shared_ptr<DatabaseSession>& session, const QString& sql)
{
    Statement query(*session, sql);
    if (!query.isValid())
        return failSession(session);
    const int n = sqlite3_column_count(query.handle());
    for (int c = 0; c < n; ++c)
        m_columns << QString::fromUtf8(sqlite3_column_name(query.handle(), c));
    m_lazy.assign(size_t(n), false);
    m_deferred.assign(size_t(n), false);
    int rc;
    while ((rc = query.step()) == SQLITE_ROW) {
        m_rowids.push_back(0);
        for (int c = 0; c < n; ++c)
            m_cells.push_back(query.column(c));
    }
    m_deferredRead.assign(m_rowids.size(), true);
    if (rc != SQLITE_DONE) {
        failSession(session);
        reset();
        return false;
    }
    m_lastError.clear();
    return true;
}

void Recordset::close()
{
    settle();
    reset();
    m_openFailure = QStringLiteral("查询结果已关闭");
}

int Recordset::recordCount() const { return int(m_rowids.size()); }

bool Recordset::atEnd() const
{
    return !(m_pending && m_pending->isNew) && m_current >= qsizetype(m_rowids.size());
}

int Recordset::fieldCount() const { return int(m_columns.size()); }

QString Recordset::fieldName(int index) const { return m_columns.value(index); }

bool Recordset::moveFirst()
{
    const bool committed = settle();
    m_current = 0;
    m_onDeletedRecord = false;
    return committed;
}

bool Recordset::moveLast()
{
    const bool committed = settle();
    m_current = m_rowids.empty() ? 0 : qsizetype(m_rowids.size()) - 1;
    m_onDeletedRecord = false;
    return committed;
}

bool Recordset::moveNext()
{
    const bool committed = settle();
    if (m_onDeletedRecord)
        m_onDeletedRecord = false; // the following record already took the deleted one's place
    else if (m_current < qsizetype(m_rowids.size()))
        ++m_current;
    return committed;
}

int Recordset::column(QStringView field) const
{
    for (qsizetype i = 0; i < m_columns.size(); ++i) {
        if (QStringView(m_columns[i]).compare(field, Qt::CaseInsensitive) == 0)
            return int(i);
    }
    return -1;
}

bool Recordset::hasCurrentRecord() const
{
    return !m_onDeletedRecord && m_current < qsizetype(m_rowids.size());
}

const QVariant* Recordset::pendingValue(int column) const
{
    if (!m_pending)
        return nullptr;
    for (const auto& [c, value] : m_pending->values) {
        if (c == column)
            return &value;
    }
    return nullptr;
}

QVariant Recordset::cell(int column) const
{
    if (column < 0)
        return {};
    if (const QVariant* value = pendingValue(column))
        return *value;
    if ((m_pending && m_pending->isNew) || !hasCurrentRecord())
        return {};
    if (m_deferred[size_t(column)] && !m_deferredRead[size_t(m_current)])
        readDeferred(m_current);
    return m_cells[size_t(m_current * m_columns.size() + column)];
}

void Recordset::readDeferred(qsizetype row) const
{
    m_deferredRead[size_t(row)] = true;
    const auto s = session();
    if (!s)
        return;
    Statement query(*s, QStringLiteral("SELECT ") + m_deferredList + QStringLiteral(" FROM ") + m_table
                            + QStringLiteral(" WHERE rowid=?"));
    if (!query.isValid()) {
        failSession(s);
        return;
    }
    query.bind(1, m_rowids[size_t(row)]);
    if (query.step() != SQLITE_ROW)
        return;
    const size_t n = size_t(m_columns.size());
    for (size_t c = 0, d = 0; c < n; ++c) {
        if (m_deferred[c])
            m_cells[size_t(row) * n + c] = query.column(int(d++));
    }
}

QString Recordset::readText(QStringView field) const
{
    const int c = column(field);
    if (c >= 0 && m_lazy[size_t(c)] && !pendingValue(c))
        return QString::fromUtf8(readBytes(field));
    return variantText(cell(c));
}

int Recordset::readInteger(QStringView field) const
{
    const QVariant value = cell(column(field));
    switch (value.typeId()) {
    case QMetaType::LongLong:
    case QMetaType::Int:
        return int(value.toLongLong());
    case QMetaType::Double:
        return int(value.toDouble());
    default:
        return SettingText::toInteger(variantText(value));
    }
}

QByteArray Recordset::readBytes(QStringView field) const
{
    const int c = column(field);
    const QVariant value = cell(c);
    if (c < 0 || pendingValue(c) || !m_lazy[size_t(c)])
        return value.typeId() == QMetaType::QByteArray ? value.toByteArray() : variantText(value).toUtf8();
    if (value.toLongLong() <= 0)
        return {};

    const auto s = session();
    if (!s)
        return {};
    Statement query(*s, QStringLiteral("SELECT ") + quotedIdentifier(m_columns[c]) + QStringLiteral(" FROM ")
                            + m_table + QStringLiteral(" WHERE rowid=?"));
    if (!query.isValid()) {
        failSession(s);
        return {};
    }
    query.bind(1, m_rowids[size_t(m_current)]);
    if (query.step() != SQLITE_ROW)
        return {};
    const QVariant bytes = query.column(0);
    return bytes.typeId() == QMetaType::QByteArray ? bytes.toByteArray() : bytes.toString().toUtf8();
}

bool Recordset::fieldIsEmpty(QStringView field) const
{
    const int c = column(field);
    const QVariant value = cell(c);
    if (c >= 0 && m_lazy[size_t(c)] && !pendingValue(c))
        return value.toLongLong() <= 0;
    return value.isNull() || variantText(value).isEmpty();
}

bool Recordset::write(QStringView field, const QVariant& value)
{
    if (m_pending && !m_pending->failure.isEmpty())
        return fail(m_pending->failure);
    const int c = column(field);
    QString refusal;
    if (m_table.isEmpty())
        refusal = m_columns.isEmpty() ? notOpenReason() : QStringLiteral("这个查询结果不能修改");
    else if (c < 0)
        refusal = QStringLiteral("没有这个字段：") + field.toString();
    else if (!m_pending && !hasCurrentRecord())
        refusal = QStringLiteral("没有当前记录");
    if (!refusal.isEmpty()) {
        // The fields written before this one go too: the next move must not commit half a record.
        if (!m_pending)
            m_pending.emplace();
        m_pending->values.clear();
        m_pending->failure = refusal;
        return fail(refusal);
    }
    if (!m_pending)
        m_pending.emplace();
    for (auto& [col, pending] : m_pending->values) {
        if (col == c) {
            pending = value;
            return true;
        }
    }
    m_pending->values.emplace_back(c, value);
    return true;
}

bool Recordset::writeText(QStringView field, const QString& text) { return write(field, text); }

bool Recordset::writeBytes(QStringView field, const QByteArray& bytes)
{
    // A null QByteArray would be stored as NULL; an empty photo is an empty byte string.
    return write(field, bytes.isNull() ? QByteArray("") : bytes);
}

bool Recordset::addNew()
{
    if (m_run && !m_run->failure.isEmpty()) {
        // The rest of a failed run is dropped with it, up to the update that ends it.
        m_pending = Pending{true, {}, m_run->failure};
        return fail(m_run->failure);
    }
    const bool committed = commitPending();
    if (!committed && m_run) {
        m_run->failure = m_lastError;
        m_pending = Pending{true, {}, m_lastError};
        return false;
    }
    if (m_table.isEmpty())
        return fail(m_columns.isEmpty() ? notOpenReason() : QStringLiteral("这个查询结果不能修改"));
    if (!m_run) {
        const auto s = session();
        if (!s || !beginRun(s))
            return false;
    }
    m_pending = Pending{true, {}, {}};
    return committed;
}

bool Recordset::beginRun(const std::shared_ptr<DatabaseSession>& session)
{
    // Named after this recordset: another one's run on the same connection is another savepoint.
    const QString savepoint = QStringLiteral("qinghe_run_%1").arg(quintptr(this), 0, 16);
    if (!session->mayWrite() || !session->exec(QStringLiteral("SAVEPOINT ") + savepoint))
        return fail(session->lastError);
    m_run = Run{savepoint, qsizetype(m_rowids.size()), {}};
    return true;
}

bool Recordset::update() { return settle(); }

bool Recordset::settle()
{
    const bool committed = commitPending();
    if (!m_run)
        return committed;
    Run run = std::move(*m_run);
    m_run.reset();
    const auto s = m_session.lock();
    if (!s || !s->db)
        return committed && run.failure.isEmpty();
    if (committed && run.failure.isEmpty()) {
        if (s->exec(QStringLiteral("RELEASE ") + run.savepoint))
            return true;
        run.failure = s->lastError;
    } else if (run.failure.isEmpty()) {
        run.failure = m_lastError;
    }
    s->exec(QStringLiteral("ROLLBACK TO ") + run.savepoint);
    s->exec(QStringLiteral("RELEASE ") + run.savepoint);
    dropRowsFrom(run.rowsBefore);
    return fail(run.failure);
}

// Our copy forgets the records of a run that was rolled back.
void Recordset::dropRowsFrom(qsizetype row)
{
    if (row >= qsizetype(m_rowids.size()))
        return;
    m_rowids.resize(size_t(row));
    m_cells.resize(size_t(row) * size_t(m_columns.size()));
    m_deferredRead.resize(size_t(row));
    m_current = std::min(m_current, row);
}

std::optional<std::vector<QVariant>> Recordset::fetchRow(qint64 rowid) const
{
    const auto s = session();
    if (!s)
        return std::nullopt;
    Statement query(*s, QStringLiteral("SELECT ") + m_selectList + QStringLiteral(" FROM ") + m_table
                            + QStringLiteral(" WHERE rowid=?"));
    if (!query.isValid())
        return std::nullopt;
    query.bind(1, rowid);
    if (query.step() != SQLITE_ROW)
        return std::nullopt;
    std::vector<QVariant> row;
    for (qsizetype c = 0; c < m_columns.size(); ++c)
        row.push_back(query.column(int(c) + 1));
    return row;
}

bool Recordset::commitPending()
{
    if (!m_pending)
        return true;
    // Taken out first: a failed commit cancels the edit instead of failing every later move.
    const Pending pending = std::move(*m_pending);
    m_pending.reset();
    if (!pending.failure.isEmpty())
        return fail(pending.failure);
    const auto s = session();
    if (!s)
        return false;
    if (!s->mayWrite())
        return fail(s->lastError);

    QStringList names;
    for (const auto& [c, value] : pending.values)
        names << quotedIdentifier(m_columns[c]);

    QString sql;
    if (pending.isNew && names.isEmpty()) {
        sql = QStringLiteral("INSERT INTO ") + m_table + QStringLiteral(" DEFAULT VALUES");
    } else if (pending.isNew) {
        QStringList marks;
        marks.fill(QStringLiteral("?"), names.size());
        sql = QStringLiteral("INSERT INTO ") + m_table + QStringLiteral(" (") + names.join(u", ")
              + QStringLiteral(") VALUES (") + marks.join(u", ") + u')';
    } else {
        if (names.isEmpty())
            return true;
        sql = QStringLiteral("UPDATE ") + m_table + QStringLiteral(" SET ") + names.join(QStringLiteral("=?, "))
              + QStringLiteral("=? WHERE rowid=?");
    }

    Statement statement(*s, sql);
    if (!statement.isValid())
        return failSession(s);
    int index = 1;
    for (const auto& [c, value] : pending.values)
        statement.bind(index++, value);
    if (!pending.isNew)
        statement.bind(index, m_rowids[size_t(m_current)]);
    if (statement.step() != SQLITE_DONE)
        return failSession(s);
    if (!pending.isNew && sqlite3_changes(s->db) == 0)
        return fail(QStringLiteral("这条记录已被删除"));
    if (s->afterChange && !s->afterChange(*s))
        return fail(s->lastError);

    const qint64 rowid = pending.isNew ? sqlite3_last_insert_rowid(s->db) : m_rowids[size_t(m_current)];
    const auto row = fetchRow(rowid);
    if (!row)
        return true; // stored; only our copy could not be refreshed
    const size_t n = size_t(m_columns.size());
    if (pending.isNew) {
        m_rowids.push_back(rowid);
        m_cells.insert(m_cells.end(), row->begin(), row->end());
        m_deferredRead.push_back(true);
        m_current = qsizetype(m_rowids.size()) - 1;
        m_onDeletedRecord = false;
    } else {
        std::copy(row->begin(), row->end(), m_cells.begin() + qsizetype(size_t(m_current) * n));
        m_deferredRead[size_t(m_current)] = true;
    }
    m_lastError.clear();
    return true;
}

bool Recordset::deleteCurrent()
{
    if (m_pending && m_pending->isNew) {
        m_pending.reset(); // deleting a record not yet stored just drops it
        return true;
    }
    m_pending.reset();
    if (m_table.isEmpty())
        return fail(QStringLiteral("这个查询结果不能修改"));
    if (!hasCurrentRecord())
        return fail(QStringLiteral("没有当前记录"));
    const auto s = session();
    if (!s)
        return false;
    if (!s->mayWrite())
        return fail(s->lastError);
    Statement statement(*s, QStringLiteral("DELETE FROM ") + m_table + QStringLiteral(" WHERE rowid=?"));
    if (!statement.isValid())
        return failSession(s);
    statement.bind(1, m_rowids[size_t(m_current)]);
    if (statement.step() != SQLITE_DONE)
        return failSession(s);
    if (s->afterChange && !s->afterChange(*s))
        return fail(s->lastError);

    const size_t n = size_t(m_columns.size());
    const auto first = m_cells.begin() + qsizetype(size_t(m_current) * n);
    m_cells.erase(first, first + qsizetype(n));
    m_rowids.erase(m_rowids.begin() + m_current);
    m_deferredRead.erase(m_deferredRead.begin() + m_current);
    m_onDeletedRecord = true;
    m_lastError.clear();
    return true;
}

QVariant Recordset::readValue(QStringView field) const
{
    const int c = column(field);
    if (c < 0 || !m_lazy[size_t(c)] || pendingValue(c))
        return cell(c);
    if (cell(c).isNull())
        return {}; // length() of NULL is NULL
    return readBytes(field);
}

bool Recordset::isByteField(QStringView field) const
{
    const int c = column(field);
    return c >= 0 && m_lazy[size_t(c)];
}
