// SPDX-License-Identifier: GPL-3.0-or-later
#include "web/ClassAccounts.h"

#include "archive/DatabaseConnection.h"
#include "archive/Recordset.h"
#include "archive/StudentTable.h"

namespace ClassAccounts {

QList<ClassAccount> load(const QString& databaseFile)
{
    DatabaseConnection connection;
    StudentTable::openArchive(connection, databaseFile);
    return load(connection);
}

QList<ClassAccount> load(const DatabaseConnection& connection)
{
    Recordset rows;
    rows.attach(connection);
    rows.open(StudentTable::selectClasses);
    QList<ClassAccount> accounts;
    for (int i = 0, n = rows.recordCount(); i < n; ++i, rows.moveNext())
        accounts.append({rows.readText(u"单位"), rows.readText(u"帐号"), rows.readText(u"密码")});
    return accounts;
}

bool save(const QString& databaseFile, const QList<ClassAccount>& accounts, QString* error)
{
    const auto fail = [error](const QString& reason) {
        if (error)
            *error = reason;
        return false;
    };
    DatabaseConnection connection;
    if (!StudentTable::openArchive(connection, databaseFile))
        return fail(connection.lastError());
    // The table is rebuilt inside one transaction, so a failure or a crash half-way leaves the
    // old accounts, and the web site never sees the table missing or half written.
    DatabaseTransaction transaction(connection);
    if (!transaction.isActive())
        return fail(connection.lastError());
    if (!connection.execute(QStringLiteral("DROP TABLE IF EXISTS 设置"))
        || !connection.execute(StudentTable::createClasses))
        return fail(connection.lastError());

    Recordset rows;
    rows.attach(connection);
    if (!rows.open(StudentTable::selectClasses))
        return fail(rows.lastError());
    for (const ClassAccount& account : accounts) {
        if (!rows.addNew() || !rows.writeText(u"单位", account.单位) || !rows.writeText(u"帐号", account.帐号)
            || !rows.writeText(u"密码", account.密码))
            return fail(rows.lastError());
    }
    if (!rows.update())
        return fail(rows.lastError());
    rows.close();
    if (!transaction.commit())
        return fail(connection.lastError());
    return true;
}

} // namespace ClassAccounts
