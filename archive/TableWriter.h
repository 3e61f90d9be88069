// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <memory>

class DatabaseConnection;
class Statement;

// Rows put into one table as they come, each value in its own kind (integer, double, text,
// bytes, NULL), through one prepared statement: for copying whole tables from another
// database, where the recordset's field-by-field writes would be slow and text-only.
class TableWriter {
public:
    struct Column {
        QString name;
        QString type; // the declared SQLite type
    };

    // Runs CREATE TABLE with the names quoted, so any name another database allowed works.
    static bool createTable(DatabaseConnection& connection, const QString& table,
                            const QList<Column>& columns, QString* error);

    static bool addColumn(DatabaseConnection& connection, const QString& table, const Column& column,
                          QString* error);
    static QStringList columnNames(DatabaseConnection& connection, const QString& table);
    static QStringList tableNames(DatabaseConnection& connection);

    TableWriter(DatabaseConnection& connection, const QString& table, const QStringList& columns);
    ~TableWriter();
    TableWriter(const TableWriter&) = delete;
    TableWriter& operator=(const TableWriter&) = delete;

    // One value per column given to the constructor, in that order.
    bool insert(const QVariantList& values);
    QString lastError() const { return m_lastError; }

private:
    DatabaseConnection& m_connection;
    std::unique_ptr<Statement> m_insert;
    qsizetype m_columns = 0;
    QString m_lastError;
};

// An identifier in double quotes, for names holding blanks, brackets or keywords.
QString sqlIdentifier(const QString& name);
