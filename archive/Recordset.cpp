// SPDX-License-Identifier: GPL-3.0-or-later
#include "archive/Recordset.h"

#include "archive/DatabaseConnection.h"
#include "archive/DatabaseSession.h"
#include "formats/SettingText.h"

#include <QRegularExpression>

namespace {

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
    m_session = connection.session();
}

std::shared_ptr<DatabaseSession> Recordset::session() const
{
    auto s = m_session.lock();
    if (!s || !s->isOpen()) {
        fail(s ? s->closedReason.text : QStringLiteral("数据库未打开"));
        return nullptr;
    }
    return s;
}

QString Recordset::notOpenReason() const
{
    const auto s = m_session.lock();
    if (!s || !s->isOpen())
        return s ? s->closedReason.text : QStringLiteral("数据库未打开");
    return m_openFailure.isEmpty() ? QStringLiteral("没有打开的查询结果") : m_openFailure;
}

bool Recordset::fail(const QString& message) const
{
    m_lastError = message;
    return false;
}

bool Recordset::failSession(const std::shared_ptr<DatabaseSession>& session) const
{
    return fail(session->lastError.text);
}

void Recordset::reset()
{
    // Swapped out, not cleared, so a large result gives its memory back.
    m_rows = ResultRows();
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
        if (s->openTable(m.captured(1), m.captured(2), m_rows)) {
            m_lastError.clear();
            return true;
        }
        reset();
    }
    if (!s->openQuery(sql, m_rows)) {
        failSession(s);
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

int Recordset::recordCount() const { return int(m_rows.keys.size()); }

bool Recordset::atEnd() const
{
    return !(m_pending && m_pending->isNew) && m_current >= qsizetype(m_rows.keys.size());
}

int Recordset::fieldCount() const { return int(m_rows.columns.size()); }

const QString& Recordset::fieldName(int index) const
{
    static const QString none;
    return index >= 0 && index < m_rows.columns.size() ? m_rows.columns[index] : none;
}

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
    m_current = m_rows.keys.empty() ? 0 : qsizetype(m_rows.keys.size()) - 1;
    m_onDeletedRecord = false;
    return committed;
}

bool Recordset::moveNext()
{
    const bool committed = settle();
    if (m_onDeletedRecord)
        m_onDeletedRecord = false; // the following record already took the deleted one's place
    else if (m_current < qsizetype(m_rows.keys.size()))
        ++m_current;
    return committed;
}

int Recordset::column(QStringView field) const
{
    // Names mostly come as the table spells them: those are found without folding case.
    for (qsizetype i = 0; i < m_rows.columns.size(); ++i) {
        if (m_rows.columns[i] == field)
            return int(i);
    }
    for (qsizetype i = 0; i < m_rows.columns.size(); ++i) {
        if (QStringView(m_rows.columns[i]).compare(field, Qt::CaseInsensitive) == 0)
            return int(i);
    }
    return -1;
}

bool Recordset::hasCurrentRecord() const
{
    return !m_onDeletedRecord && m_current < qsizetype(m_rows.keys.size());
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
    if (m_rows.deferred[size_t(column)] && !m_rows.deferredRead[size_t(m_current)]) {
        if (const auto s = session())
            s->readDeferred(m_rows, m_current);
    }
    return m_rows.cells[size_t(m_current * m_rows.columns.size() + column)];
}

QString Recordset::readText(QStringView field) const
{
    const int c = column(field);
    if (c >= 0 && m_rows.bytes[size_t(c)] && !pendingValue(c))
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

QByteArray Recordset::readBytes(QStringView field) const { return bytesAt(column(field)); }

QByteArray Recordset::bytesAt(int c) const
{
    const QVariant value = cell(c);
    if (c < 0 || pendingValue(c) || !m_rows.bytes[size_t(c)])
        return value.typeId() == QMetaType::QByteArray ? value.toByteArray() : variantText(value).toUtf8();
    if (value.toLongLong() <= 0)
        return {};
    const auto s = session();
    if (!s)
        return {};
    const auto bytes = s->readBytes(m_rows, c, m_rows.keys[size_t(m_current)]);
    if (!bytes) {
        failSession(s);
        return {};
    }
    return *bytes;
}

bool Recordset::fieldIsEmpty(QStringView field) const
{
    const int c = column(field);
    const QVariant value = cell(c);
    if (c >= 0 && m_rows.bytes[size_t(c)] && !pendingValue(c))
        return value.toLongLong() <= 0;
    return value.isNull() || variantText(value).isEmpty();
}

bool Recordset::write(QStringView field, const QVariant& value)
{
    if (m_pending && !m_pending->failure.isEmpty())
        return fail(m_pending->failure);
    const int c = column(field);
    QString refusal;
    if (m_rows.table.isEmpty())
        refusal = m_rows.columns.isEmpty() ? notOpenReason() : QStringLiteral("这个查询结果不能修改");
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
    if (m_rows.table.isEmpty())
        return fail(m_rows.columns.isEmpty() ? notOpenReason() : QStringLiteral("这个查询结果不能修改"));
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
    if (!session->mayWrite() || !session->beginRun(savepoint))
        return fail(session->lastError.text);
    m_run = Run{savepoint, qsizetype(m_rows.keys.size()), {}};
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
    if (!s || !s->isOpen())
        return committed && run.failure.isEmpty();
    if (committed && run.failure.isEmpty()) {
        if (s->endRun(run.savepoint, true))
            return true;
        run.failure = s->lastError.text;
    } else {
        if (run.failure.isEmpty())
            run.failure = m_lastError;
        s->endRun(run.savepoint, false);
    }
    dropRowsFrom(run.rowsBefore);
    return fail(run.failure);
}

// Our copy forgets the records of a run that was rolled back.
void Recordset::dropRowsFrom(qsizetype row)
{
    if (row >= qsizetype(m_rows.keys.size()))
        return;
    m_rows.keys.resize(size_t(row));
    m_rows.cells.resize(size_t(row) * size_t(m_rows.columns.size()));
    m_rows.deferredRead.resize(size_t(row));
    m_current = std::min(m_current, row);
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
        return fail(s->lastError.text);
    if (!pending.isNew && pending.values.empty())
        return true;

    qint64 key = 0;
    if (pending.isNew) {
        const auto inserted = s->insert(m_rows, pending.values);
        if (!inserted)
            return failSession(s);
        key = *inserted;
    } else {
        key = m_rows.keys[size_t(m_current)];
        const int changed = s->update(m_rows, pending.values, key);
        if (changed < 0)
            return failSession(s);
        if (changed == 0)
            return fail(QStringLiteral("这条记录已被删除"));
    }

    const auto row = s->fetchRow(m_rows, key);
    if (!row)
        return true; // stored; only our copy could not be refreshed
    const size_t n = size_t(m_rows.columns.size());
    if (pending.isNew) {
        m_rows.keys.push_back(key);
        m_rows.cells.insert(m_rows.cells.end(), row->begin(), row->end());
        m_rows.deferredRead.push_back(true);
        m_current = qsizetype(m_rows.keys.size()) - 1;
        m_onDeletedRecord = false;
    } else {
        std::copy(row->begin(), row->end(), m_rows.cells.begin() + qsizetype(size_t(m_current) * n));
        m_rows.deferredRead[size_t(m_current)] = true;
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
    if (m_rows.table.isEmpty())
        return fail(QStringLiteral("这个查询结果不能修改"));
    if (!hasCurrentRecord())
        return fail(QStringLiteral("没有当前记录"));
    const auto s = session();
    if (!s)
        return false;
    if (!s->mayWrite())
        return fail(s->lastError.text);
    if (!s->remove(m_rows, m_rows.keys[size_t(m_current)]))
        return failSession(s);

    const size_t n = size_t(m_rows.columns.size());
    const auto first = m_rows.cells.begin() + qsizetype(size_t(m_current) * n);
    m_rows.cells.erase(first, first + qsizetype(n));
    m_rows.keys.erase(m_rows.keys.begin() + m_current);
    m_rows.deferredRead.erase(m_rows.deferredRead.begin() + m_current);
    m_onDeletedRecord = true;
    m_lastError.clear();
    return true;
}

QVariant Recordset::readValue(QStringView field) const { return readValue(column(field)); }

QVariant Recordset::readValue(int c) const
{
    if (c < 0 || c >= fieldCount())
        return {};
    if (!m_rows.bytes[size_t(c)] || pendingValue(c))
        return cell(c);
    if (cell(c).isNull())
        return {}; // length() of NULL is NULL
    return bytesAt(c);
}

bool Recordset::isByteField(QStringView field) const
{
    const int c = column(field);
    return c >= 0 && m_rows.bytes[size_t(c)];
}
