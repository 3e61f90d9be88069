// SPDX-License-Identifier: GPL-3.0-or-later
#include "archive/TableWriter.h"

#include "archive/DatabaseConnection.h"
#include "archive/SqliteSession.h"

QString sqlIdentifier(const QString& name)
{
    QString quoted = name;
    quoted.replace(u'"', QStringLiteral("\"\""));
    return u'"' + quoted + u'"';
}

bool TableWriter::createTable(DatabaseConnection& connection, const QString& table,
                              const QList<Column>& columns, QString* error)
{
    QStringList definitions;
    for (const Column& column : columns)
        definitions << sqlIdentifier(column.name) + u' ' + column.type;
    SqliteSession& session = *connection.m_session;
    // Not through execute(): its translation of the original format's type words would
    // also touch a column that happens to be named "memo".
    if (session.mayWrite()
        && session.exec(QStringLiteral("CREATE TABLE ") + sqlIdentifier(table) + u'(' + definitions.join(u',')
                        + u')'))
        return true;
    if (error)
        *error = session.lastError.text;
    return false;
}

bool TableWriter::addColumn(DatabaseConnection& connection, const QString& table, const Column& column,
                            QString* error)
{
    SqliteSession& session = *connection.m_session;
    if (session.mayWrite()
        && session.exec(QStringLiteral("ALTER TABLE ") + sqlIdentifier(table) + QStringLiteral(" ADD COLUMN ")
                        + sqlIdentifier(column.name) + u' ' + column.type))
        return true;
    if (error)
        *error = session.lastError.text;
    return false;
}

namespace {

QStringList firstColumn(SqliteSession& session, const QString& sql, int column)
{
    QStringList values;
    Statement statement(session, sql);
    while (statement.isValid() && statement.step() == SQLITE_ROW)
        values << statement.column(column).toString();
    return values;
}

} // namespace

QStringList TableWriter::columnNames(DatabaseConnection& connection, const QString& table)
{
    return firstColumn(*connection.m_session,
                       QStringLiteral("PRAGMA table_info(") + sqlIdentifier(table) + u')', 1);
}

QStringList TableWriter::tableNames(DatabaseConnection& connection)
{
    return firstColumn(*connection.m_session,
                       QStringLiteral("SELECT name FROM sqlite_master WHERE type='table'"), 0);
}

TableWriter::TableWriter(DatabaseConnection& connection, const QString& table, const QStringList& columns)
    : m_connection(connection)
    , m_columns(columns.size())
{
    QStringList names;
    QStringList marks;
    for (const QString& column : columns) {
        names << sqlIdentifier(column);
        marks << QStringLiteral("?");
    }
    SqliteSession& session = *connection.m_session;
    if (!session.mayWrite()) {
        m_lastError = session.lastError.text;
        return;
    }
    m_insert = std::make_unique<Statement>(
        session, QStringLiteral("INSERT INTO ") + sqlIdentifier(table) + u'(' + names.join(u',')
                     + QStringLiteral(") VALUES(") + marks.join(u',') + u')');
    if (!m_insert->isValid()) {
        m_lastError = session.describe(m_insert->code());
        m_insert.reset();
    }
}

TableWriter::~TableWriter() = default;

bool TableWriter::insert(const QVariantList& values)
{
    if (!m_insert)
        return false;
    if (values.size() != m_columns) {
        m_lastError = QStringLiteral("值的个数与列数不符");
        return false;
    }
    sqlite3_stmt* statement = m_insert->handle();
    sqlite3_reset(statement);
    for (qsizetype i = 0; i < values.size(); ++i)
        m_insert->bind(int(i) + 1, values[i]);
    const int rc = m_insert->step();
    if (rc == SQLITE_DONE)
        return true;
    m_lastError = m_connection.m_session->describe(rc);
    sqlite3_reset(statement);
    return false;
}
