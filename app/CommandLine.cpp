// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/CommandLine.h"

#include <QCoreApplication>
#include <QTextStream>

namespace CommandLine {

bool wantsCommandLine(int argc, char* argv[])
{
    if (argc < 2)
        return false;
    // Qt's own options (-platform, -style …) still start the window.
    const QByteArray first(argv[1]);
    return !first.startsWith('-') || first == "--help" || first == "-h" || first == "--version";
}

QString usage()
{
    return QStringLiteral("用法：\n"
                          "  qinghe                 打开青禾名录主窗口\n"
                          "  qinghe --help          显示本说明\n"
                          "  qinghe --version       显示版本\n"
                          "\n"
                          "环境变量：\n"
                          "  QINGHE_FOLDER          使用另一个程序文件夹（其中有 DB/学生信息.mdb 和 sys.ini）\n");
}

int run(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments();
    args.removeFirst();
    QTextStream out(stdout);
    QTextStream err(stderr);
    const QString command = args.value(0);
    if (command == u"--help" || command == u"-h") {
        out << usage();
        return 0;
    }
    if (command == u"--version") {
        out << "qinghe " << QStringLiteral(QINGHE_VERSION) << '\n';
        return 0;
    }
    err << "qinghe：不认识的命令“" << command << "”\n\n" << usage();
    return 2;
}

} // namespace CommandLine
