// SPDX-License-Identifier: GPL-3.0-or-later
// Lays down the database of a program folder: creates DB/学生信息.mdb with its tables when it
// is absent or holds no data at all, and leaves any other file alone, so a rebuild never loses
// the archive. The file appears whole or not at all, even when the tool is killed.
#include "platform/DatabaseConnection.h"
#include "platform/ProgramFolder.h"
#include "platform/StudentTable.h"

#include <QCoreApplication>
#include <QDir>
#include <QTextStream>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 2) {
        QTextStream(stderr) << "用法：qinghe-initdb 程序文件夹\n";
        return 2;
    }
    const QString folder = QDir(args[1]).absolutePath();
    QDir().mkpath(ProgramFolder::databaseFolder(folder));
    QDir().mkpath(ProgramFolder::photoFolder(folder));

    const QString database = ProgramFolder::databaseFile(folder);
    if (DatabaseConnection::fileHoldsData(database))
        return 0;
    QString error;
    if (!StudentTable::createDatabaseFile(database, &error)) {
        QTextStream(stderr) << "无法建立数据库 " << database << "：" << error << '\n';
        return 1;
    }
    return 0;
}
