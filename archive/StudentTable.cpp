// SPDX-License-Identifier: GPL-3.0-or-later
#include "archive/StudentTable.h"

#include "archive/DatabaseConnection.h"
#include "archive/Recordset.h"
#include "archive/SqlText.h"
#include "formats/SafeFile.h"

namespace StudentTable {

QString selectClass(QStringView className)
{
    return QStringLiteral("select * from 学生 where 班级='") + sqlQuoted(className) + u'\'';
}

QString selectNumberOrName(QStringView text)
{
    const QString t = sqlQuoted(text);
    return QStringLiteral("select * from 学生 where 编号='") + t + QStringLiteral("'or 姓名='") + t + u'\'';
}

QString selectId(int id) { return QStringLiteral("select * from 学生 where id=") + QString::number(id); }

bool openArchive(DatabaseConnection& connection, const QString& path)
{
    return connection.openDatabaseFile(path, databasePassword, QStringLiteral("学生"));
}

bool createDatabaseFile(const QString& path, QString* error)
{
    auto fail = [error](const QString& message) {
        if (error)
            *error = message;
        return false;
    };
    if (DatabaseConnection::fileHoldsData(path))
        return fail(QStringLiteral("文件里已有数据，不会被替换：") + path);

    DatabaseConnection connection;
    if (!connection.createInMemory())
        return fail(connection.lastError());
    for (const QString& statement : {createStudents, createListIndex, createClasses, createAdministrator}) {
        if (!connection.execute(statement))
            return fail(connection.lastError());
    }
    {
        Recordset administrator;
        administrator.attach(connection);
        if (!administrator.open(selectAdministrator) || !administrator.addNew()
            || !administrator.writeText(u"密码", defaultAdministratorPassword) || !administrator.update())
            return fail(administrator.lastError());
    }
    const QByteArray bytes = connection.fileBytes();
    if (bytes.isEmpty())
        return fail(QStringLiteral("无法生成数据库"));
    return SafeFile::write(path, bytes, error);
}

} // namespace StudentTable
