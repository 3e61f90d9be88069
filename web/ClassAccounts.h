// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QString>

class DatabaseConnection;

// One row of table 设置: a class, and the web login of that class's administrator. The
// password is kept as plain text because the class administrators ask the office for it.
struct ClassAccount {
    QString 单位;
    QString 帐号;
    QString 密码;

    bool operator==(const ClassAccount&) const = default;
};

// The class accounts table, whose 单位 column in stored order is the program's class list.
namespace ClassAccounts {

// The rows in stored order; none when the database cannot be read.
QList<ClassAccount> load(const QString& databaseFile);
// The same through a connection a window already holds.
QList<ClassAccount> load(const DatabaseConnection& connection);

// Replaces the whole table by these rows, in this order. All or nothing: on any failure the
// old rows stay as they were, and the answer is false with the reason.
bool save(const QString& databaseFile, const QList<ClassAccount>& accounts, QString* error = nullptr);

} // namespace ClassAccounts
