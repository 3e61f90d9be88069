// SPDX-License-Identifier: GPL-3.0-or-later
// Lays down the database of a program folder: creates DB/学生信息.mdb with its tables when it
// is absent or holds no data at all, and leaves any other file alone, so a rebuild never loses
// the archive. The file appears whole or not at all, even when the tool is killed.
// With --server it creates the tables in a PostgreSQL database instead, in one transaction,
// and leaves a database that has any of them as it is.
#include "archive/ArchiveCopy.h"
#include "archive/DatabaseConnection.h"
#include "archive/ProgramFolder.h"
#include "archive/StudentTable.h"

#include <QCoreApplication>
#include <QDir>
#include <QTextStream>

namespace {

int createOnServer(const QString& uri)
{
    QTextStream err(stderr);
    if (!DatabaseConnection::isServerLocation(uri)) {
        err << "qinghe-initdb：服务器地址应以 postgresql:// 开头：" << uri << '\n';
        return 2;
    }
    DatabaseConnection server;
    if (!server.openLocation(uri)) {
        err << "qinghe-initdb：" << server.lastError() << '\n';
        return 1;
    }
    QString error;
    bool alreadyThere = false;
    if (!ArchiveCopy::createTables(server, &error, &alreadyThere)) {
        err << "qinghe-initdb：" << error << '\n';
        return alreadyThere ? 0 : 1;
    }
    QTextStream(stdout) << "已在 " << uri << " 建立数据表\n";
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 3 && args[1] == u"--server")
        return createOnServer(args[2]);
    if (args.size() != 2) {
        QTextStream(stderr) << "用法：qinghe-initdb 程序文件夹\n"
                               "      qinghe-initdb --server postgresql://主机/数据库名\n";
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
