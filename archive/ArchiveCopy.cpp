// SPDX-License-Identifier: GPL-3.0-or-later
#include "archive/ArchiveCopy.h"

#include "archive/DatabaseConnection.h"
#include "archive/Recordset.h"
#include "archive/SqlText.h"
#include "archive/StudentTable.h"
#include "formats/SafeFile.h"

namespace ArchiveCopy {

namespace {

struct Table {
    QString name;
    QString create;
};

const QList<Table>& archiveTables()
{
    static const QList<Table> tables{{QStringLiteral("学生"), StudentTable::createStudents},
                                     {QStringLiteral("设置"), StudentTable::createClasses},
                                     {QStringLiteral("管理员"), StudentTable::createAdministrator}};
    return tables;
}

bool failWith(QString* error, const QString& reason)
{
    *error = reason;
    return false;
}

// Only what qinghe-initdb lays down: the administrator row with the default password, which
// gives way to the archive's own password.
bool onlyTheDefaultPassword(Recordset& rows, const QString& table)
{
    return table == u"管理员" && rows.recordCount() == 1
           && rows.readText(u"密码") == StudentTable::defaultAdministratorPassword;
}

// "“学生”表第 3 行（id 7）": where a value that cannot be copied lies.
QString rowName(const QString& table, int row, const Recordset& from)
{
    const QVariant id = from.readValue(u"id");
    return QStringLiteral("“%1”表第 %2 行").arg(table).arg(row)
           + (id.isValid() ? QStringLiteral("（id %1）").arg(id.toLongLong()) : QString());
}

// Rows of one table appended to the same table of `target`, which must be empty.
bool copyRows(DatabaseConnection& source, DatabaseConnection& target, const QString& table, int* copied,
              QString* error)
{
    Recordset from, to;
    from.attach(source);
    to.attach(target);
    const QString query = QStringLiteral("select * from ") + table;
    if (!from.open(query))
        return failWith(error, QStringLiteral("读不出“%1”表：").arg(table) + from.lastError());
    if (!to.open(query))
        return failWith(error, QStringLiteral("打不开目标的“%1”表：").arg(table) + to.lastError());
    if (onlyTheDefaultPassword(to, table) && from.recordCount() > 0) {
        if (!to.deleteCurrent() || !to.update() || !to.open(query))
            return failWith(error, to.lastError());
    }
    if (to.recordCount() > 0)
        return failWith(error, QStringLiteral("目标数据库的“%1”表里已有 %2 条记录，不会被覆盖")
                                   .arg(table)
                                   .arg(to.recordCount()));
    QStringList fields;
    for (int f = 0; f < to.fieldCount(); ++f)
        fields << to.fieldName(f);
    int row = 0;
    for (from.moveFirst(); !from.atEnd(); from.moveNext()) {
        ++row;
        if (!to.addNew())
            return failWith(error, to.lastError());
        for (const QString& field : fields) {
            const QVariant value = from.readValue(field);
            if (!value.isValid())
                continue; // NULL stays NULL
            bool written = false;
            if (to.isByteField(field)) {
                const QByteArray bytes = from.readBytes(field);
                if (bytes.isEmpty() && !from.fieldIsEmpty(field))
                    return failWith(error,
                                    QStringLiteral("读不出“%1”表的数据：").arg(table) + from.lastError());
                written = to.writeBytes(field, bytes);
            } else {
                const QString text = from.readText(field);
                // A server keeps no text with a NUL: copied, it would come out cut short.
                if (DatabaseConnection::isServerLocation(target.location()) && text.contains(QChar(0)))
                    return failWith(error,
                                    rowName(table, row, from)
                                        + QStringLiteral("的“%1”里有空字符（NUL），数据库服务器存不下，"
                                                         "没有复制任何数据；请先在本程序里改正这一项")
                                              .arg(field));
                written = to.writeText(field, text);
            }
            if (!written)
                return failWith(error, to.lastError());
        }
    }
    if (!to.update())
        return failWith(error, to.lastError());
    *copied = to.recordCount();
    return true;
}

bool copyTables(DatabaseConnection& source, DatabaseConnection& target, Counts* counts, QString* error)
{
    const QStringList present = target.tables();
    for (const Table& table : archiveTables()) {
        if (!present.contains(table.name, Qt::CaseInsensitive) && !target.execute(table.create))
            return failWith(error, target.lastError());
        int copied = 0;
        if (!copyRows(source, target, table.name, &copied, error))
            return false;
        counts->append({table.name, copied});
    }
    return true;
}

} // namespace

bool copy(const QString& from, const QString& to, Counts* counts, QString* error)
{
    counts->clear();
    DatabaseConnection source;
    if (!source.openLocation(from, QStringLiteral("学生")))
        return failWith(error, QStringLiteral("打不开 ") + from + QStringLiteral("：") + source.lastError());

    if (DatabaseConnection::isServerLocation(to)) {
        DatabaseConnection target;
        if (!target.openLocation(to))
            return failWith(error, target.lastError());
        DatabaseTransaction transaction(target);
        if (!transaction.isActive())
            return failWith(error, target.lastError());
        if (!copyTables(source, target, counts, error))
            return false;
        return transaction.commit() || failWith(error, target.lastError());
    }

    if (DatabaseConnection::fileHoldsData(to))
        return failWith(error, QStringLiteral("文件里已有数据，不会被替换：") + to);
    DatabaseConnection target;
    if (!target.createInMemory())
        return failWith(error, target.lastError());
    if (!copyTables(source, target, counts, error))
        return false;
    const QByteArray bytes = target.fileBytes();
    if (bytes.isEmpty())
        return failWith(error, QStringLiteral("无法生成数据库文件"));
    return SafeFile::write(to, bytes, error);
}

bool createTables(DatabaseConnection& server, QString* error, bool* alreadyThere)
{
    const QStringList present = server.tables();
    QStringList found;
    for (const Table& table : archiveTables()) {
        if (present.contains(table.name, Qt::CaseInsensitive))
            found << table.name;
    }
    if (alreadyThere)
        *alreadyThere = !found.isEmpty();
    if (!found.isEmpty())
        return failWith(error, QStringLiteral("数据库里已有表（%1），没有做任何改动").arg(found.join(u"、")));

    DatabaseTransaction transaction(server);
    if (!transaction.isActive())
        return failWith(error, server.lastError());
    for (const Table& table : archiveTables()) {
        if (!server.execute(table.create))
            return failWith(error, server.lastError());
    }
    Recordset administrator;
    administrator.attach(server);
    if (!administrator.open(StudentTable::selectAdministrator) || !administrator.addNew()
        || !administrator.writeText(u"密码", StudentTable::defaultAdministratorPassword)
        || !administrator.update())
        return failWith(error, administrator.lastError());
    return transaction.commit() || failWith(error, server.lastError());
}

} // namespace ArchiveCopy

bool ArchiveCopy::writeFile(DatabaseConnection& archive, const QString& file, QString* error)
{
    return SafeFile::writeWith(
        file,
        [&archive](const QString& temporary, QString* reason) {
            if (DatabaseConnection::isServerLocation(archive.location())) {
                Counts counts;
                return copy(archive.location(), temporary, &counts, reason);
            }
            // VACUUM INTO reads one snapshot of the database, whoever writes meanwhile.
            if (archive.execute(QStringLiteral("VACUUM INTO '") + sqlQuoted(temporary) + u'\''))
                return true;
            *reason = archive.lastError();
            return false;
        },
        error);
}
