// SPDX-License-Identifier: GPL-3.0-or-later
// Lays down the database of a program folder: creates DB/学生信息.mdb with its tables when it
// is absent or holds no data at all, and leaves any other file alone, so a rebuild never loses
// the archive. The file appears whole or not at all, even when the tool is killed.
// With --server it creates the tables in a PostgreSQL database instead, in one transaction,
// and leaves a database that has any of them as it is.
#include "archive/ArchiveCopy.h"
#include "archive/DatabaseConnection.h"
#include "archive/ProgramFolderSetup.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QTextStream>

namespace {

const char usage[] = "用法：qinghe-initdb 程序文件夹\n"
                     "      qinghe-initdb --server postgresql://主机/数据库名\n"
                     "给程序文件夹建立学生数据库 DB/学生信息.mdb（文件不存在或没有任何数据时；\n"
                     "有数据的文件从不改动），或在 PostgreSQL 服务器的数据库里建立数据表\n"
                     "（已有数据表的数据库不改动）。\n"
                     "\n"
                     "  --server 地址     在这个服务器数据库里建表（libpq 的连接地址，密码写在 ~/.pgpass）\n"
                     "  -h, --help        显示本说明\n"
                     "  -v, --version     显示版本\n";

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
    QCommandLineParser parser;
    const QCommandLineOption server(QStringLiteral("server"), QString(), QStringLiteral("地址"));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringList{QStringLiteral("v"), QStringLiteral("version")});
    parser.addOptions({server, help, version});
    // A word that looks like an option is never taken for the folder to create.
    const bool read = parser.parse(app.arguments());
    if (read && parser.isSet(help)) {
        QTextStream(stdout) << usage;
        return 0;
    }
    if (read && parser.isSet(version)) {
        QTextStream(stdout) << "qinghe-initdb " QINGHE_VERSION "\n";
        return 0;
    }
    const QStringList folders = parser.positionalArguments();
    if (!read || folders.size() != (parser.isSet(server) ? 0 : 1)) {
        QTextStream err(stderr);
        if (const QStringList unknown = parser.unknownOptionNames(); !unknown.isEmpty())
            err << "qinghe-initdb：不认识的参数“" << (unknown.first().size() == 1 ? "-" : "--")
                << unknown.first() << "”\n";
        err << usage;
        return 2;
    }
    if (parser.isSet(server))
        return createOnServer(parser.value(server));
    QString error;
    if (!ProgramFolder::prepare(QDir(folders.first()).absolutePath(), &error)) {
        QTextStream(stderr) << error << '\n';
        return 1;
    }
    return 0;
}
