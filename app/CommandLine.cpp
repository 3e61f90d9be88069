// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/CommandLine.h"
#include "app/PhotosCommand.h"

#include "archive/ArchiveCopy.h"
#include "archive/ProgramFolder.h"
#include "archive/ProgramFolderSetup.h"
#include "cards/pages/CardsPdf.h"
#include "exchange/AccessImport.h"
#include "formats/graphics/Fonts.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QGuiApplication>
#include <QRegularExpression>
#include <QTextStream>

#include <algorithm>
#include <cstdio>
#include <limits>
#include <memory>
#include <optional>

namespace CommandLine {

namespace {

int writeCards(const QCommandLineParser& parser, QTextStream& out, QTextStream& err)
{
    if (!parser.isSet(QStringLiteral("pdf"))) {
        err << "qinghe cards：缺少 --pdf 文件\n\n" << usage();
        return 2;
    }
    const QString pdf = parser.value(QStringLiteral("pdf"));
    const std::optional<QString> className = parser.isSet(QStringLiteral("class"))
                                                 ? std::optional(parser.value(QStringLiteral("class")))
                                                 : std::nullopt;
    installFontSubstitutes();

    CardsPdf::Written written;
    QString error;
    const SheetRenderer::Paper paper = parser.isSet(QStringLiteral("card-printer"))
                                           ? SheetRenderer::Paper::CardPrinter
                                           : SheetRenderer::Paper::Sheets;
    const bool done = CardsPdf::write(ProgramFolder::locate(), className, pdf, paper, &written, &error);
    for (const QString& warning : written.warnings)
        err << "qinghe cards：" << warning << '\n';
    if (!done) {
        err << "qinghe cards：" << error << '\n';
        return 1;
    }
    out << "已写出 " << written.cards << " 张证件，" << written.pages << " 页：" << pdf << '\n';
    return 0;
}

// The reason, and what libmdb complained of on the way, for whoever looks into a damaged file.
void refused(const QString& error, const AccessImport::Report& result, QTextStream& err)
{
    err << "qinghe import-access：" << error << '\n';
    if (!result.readerNotes.isEmpty())
        err << "Access 读取程序的提示：\n" << result.readerNotes << '\n';
}

int importAccess(const QCommandLineParser& parser, QTextStream& out, QTextStream& err)
{
    const QString file = parser.positionalArguments().value(0);
    const bool append = parser.isSet(QStringLiteral("append"));
    const QString copyTo = parser.value(QStringLiteral("copy-to"));
    if (file.isEmpty() || (append && !copyTo.isEmpty())) {
        err << "qinghe import-access："
            << (file.isEmpty() ? "缺少 Access 数据库文件" : "--append 与 --copy-to 不能同时使用") << "\n\n"
            << usage();
        return 2;
    }
    if (!copyTo.isEmpty()) {
        AccessImport::Report result;
        QString error;
        if (!AccessImport::copyTo(file, copyTo, &result, &error)) {
            refused(error, result, err);
            return 1;
        }
        out << "已复制 " << result.tables << " 个表，共 " << result.rows << " 行：" << copyTo << '\n';
        return 0;
    }
    const QString archive = ProgramFolder::databaseFile(ProgramFolder::locate());
    AccessImport::Report result;
    QString error;
    if (!AccessImport::importArchive(file, archive, append, &result, &error)) {
        refused(error, result, err);
        return 1;
    }
    const AccessImport::Counts& c = result.counts;
    if (result.appended)
        out << "已追加：学生 " << c.students << " 名，照片 " << c.photos
            << " 张；班级和帐号沿用现有数据库：班级 " << c.classes << " 个，帐号 " << c.accounts << " 个\n";
    else
        out << "已转换：学生 " << c.students << " 名，照片 " << c.photos << " 张，班级 " << c.classes
            << " 个，帐号 " << c.accounts << " 个\n";
    if (!result.keptOriginal.isEmpty())
        out << "原来的 Access 文件保存在 " << result.keptOriginal << '\n';
    for (const QString& table : result.skippedTables)
        out << "表“" << table << "”现有数据库里已有，没有导入\n";
    out << "数据库：" << archive << '\n';
    return 0;
}

// `archive copy FROM TO`: a file path or a postgresql:// address on either side.
int copyArchive(const QCommandLineParser& parser, QTextStream& out, QTextStream& err)
{
    const QStringList args = QStringList{QStringLiteral("archive")} + parser.positionalArguments();
    if (args.size() != 4 || args[1] != u"copy") {
        err << "用法：qinghe archive copy 从哪里 到哪里（数据库文件或 postgresql:// 地址）\n";
        return 2;
    }
    ArchiveCopy::Counts counts;
    QString error;
    if (!ArchiveCopy::copy(args[2], args[3], &counts, &error)) {
        err << "qinghe archive copy：没有复制：" << error << '\n';
        return 1;
    }
    QStringList parts;
    for (const auto& [table, rows] : counts)
        parts << QStringLiteral("%1 %2 条").arg(table).arg(rows);
    out << "已复制到 " << args[3] << "：" << parts.join(QStringLiteral("，")) << '\n';
    return 0;
}

QCommandLineOption valueOption(const QString& name, const QString& missing)
{
    return QCommandLineOption(name, QString(), missing);
}

const QList<Command>& commands()
{
    static const QList<Command> table{
        {QStringLiteral("cards"),
         QStringLiteral("  qinghe cards [--class 班级] --pdf 文件 [--card-printer]\n"
                        "                         把全部学生（或一个班级学生）的证件排成证件页，\n"
                        "                         写成 PDF 文件，不打开窗口；--card-printer 给证件打印机：\n"
                        "                         每页一张证件，页面是证件大小，四边各多出 1 毫米背景\n"),
         Application::Gui,
         {valueOption(QStringLiteral("class"), QStringLiteral("班级名称")),
          valueOption(QStringLiteral("pdf"), QStringLiteral("文件名")),
          QCommandLineOption(QStringLiteral("card-printer"))},
         0,
         writeCards},
        {QStringLiteral("photos"),
         QStringLiteral("  qinghe photos (--class 班级 | --all) --to 文件夹 --standard 规格 [--force]\n"
                        "                         按照片规格（学籍、毕业、一寸、二寸……）裁剪、压缩照片，\n"
                        "                         以编号命名写入文件夹；有学生没写出时退出码为 3\n"
                        "  qinghe photos --import 文件夹 --class 班级 [--replace]\n"
                        "                         载入以编号或姓名命名的一批照片，按人脸裁剪后存入档案\n"),
         Application::Gui, PhotosCommand::options(), 0, PhotosCommand::run},
        {QStringLiteral("archive"),
         QStringLiteral("  qinghe archive copy 从哪里 到哪里\n"
                        "                         把整个数据库复制到另一处：数据库文件或\n"
                        "                         postgresql://主机/数据库名 的服务器数据库，\n"
                        "                         目标里不能已有记录\n"),
         Application::Core,
         {},
         3,
         copyArchive},
        {QStringLiteral("import-access"),
         QStringLiteral("  qinghe import-access 文件 [--append]\n"
                        "                         把 Windows 上的 Access 学生数据库（学生信息.mdb）转换成\n"
                        "                         本程序的数据库 DB/学生信息.mdb；已有学生时要加 --append，\n"
                        "                         学生加在后面，班级和密码不变\n"
                        "  qinghe import-access 文件 --copy-to 新文件\n"
                        "                         把任何 Access 数据库的全部表复制到一个新的 SQLite 文件\n"),
         Application::Core,
         {QCommandLineOption(QStringLiteral("append")),
          valueOption(QStringLiteral("copy-to"), QStringLiteral("文件名"))},
         1,
         importAccess},
    };
    return table;
}

const QCommandLineOption helpOption(QStringList{QStringLiteral("h"), QStringLiteral("help")});
const QCommandLineOption versionOption(QStringList{QStringLiteral("v"), QStringLiteral("version")});

// Qt's own options, which the window takes (-platform xcb, -style fusion …).
QList<QCommandLineOption> windowSystemOptions()
{
    QList<QCommandLineOption> options;
    for (const char* name : {"platform", "platformpluginpath", "platformtheme", "plugin", "qmljsdebugger",
                             "qwindowgeometry", "qwindowicon", "qwindowtitle", "session", "display",
                             "geometry", "style", "stylesheet", "name", "title"})
        options << QCommandLineOption(QString::fromLatin1(name), QString(), QStringLiteral("值"));
    for (const char* name : {"reverse", "widgetcount", "nograb", "dograb", "sync"})
        options << QCommandLineOption(QString::fromLatin1(name));
    return options;
}

// An option named as it was typed, for the refusal.
QString asTyped(const QString& name, const QStringList& arguments)
{
    for (const QString& argument : arguments.mid(1)) {
        if (argument.startsWith(u'-')
            && argument.section(u'=', 0, 0).remove(QRegularExpression("^-+")) == name)
            return argument.section(u'=', 0, 0);
    }
    return (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
}

// What is wrong with the arguments of `options` and at most `positionals` positional
// arguments; empty when nothing is. Every option is given at most once.
QString mistake(QCommandLineParser& parser, const QList<QCommandLineOption>& options, qsizetype positionals,
                const QStringList& arguments)
{
    const QString last = arguments.size() > 1 ? arguments.last() : QString();
    for (const QCommandLineOption& option : options) {
        if (option.valueName().isEmpty())
            continue;
        for (const QString& name : option.names()) {
            if (last == QStringLiteral("--") + name || last == QStringLiteral("-") + name)
                return QStringLiteral("%1 后面缺少%2").arg(last, option.valueName());
        }
    }
    if (!parser.parse(arguments)) {
        if (!parser.unknownOptionNames().isEmpty())
            return QStringLiteral("不认识的参数“%1”")
                .arg(asTyped(parser.unknownOptionNames().first(), arguments));
        return parser.errorText();
    }
    for (const QCommandLineOption& option : options) {
        const QString name = option.names().constLast();
        const QStringList values = parser.values(option);
        if (values.size() > 1)
            return QStringLiteral("--%1 只能给一次").arg(name);
        if (!values.isEmpty() && values.constFirst().isEmpty())
            return QStringLiteral("--%1 后面缺少%2").arg(name, option.valueName());
    }
    if (parser.positionalArguments().size() > positionals)
        return QStringLiteral("不认识的参数“%1”").arg(parser.positionalArguments().at(positionals));
    return {};
}

void prepare(QCommandLineParser& parser, const Command& command)
{
    parser.addOption(helpOption);
    parser.addOptions(command.options);
}

Choice answered(int exitCode, const QString& text, FILE* stream)
{
    QTextStream(stream) << text;
    return {exitCode, nullptr, {}};
}

} // namespace

QString usage()
{
    QString text = QStringLiteral("用法：\n"
                                  "  qinghe                 打开青禾名录主窗口\n");
    for (const Command& command : commands())
        text += command.usage;
    return text
           + QStringLiteral(
               "  qinghe --help          显示本说明\n"
               "  qinghe --version       显示版本\n"
               "\n"
               "环境变量：\n"
               "  QINGHE_FOLDER          使用另一个程序文件夹（其中有 DB/学生信息.mdb 和 sys.ini）\n"
               "  QINGHE_CAMERA_IMAGE    用一张图片代替摄像头（没有摄像头时试用）\n"
               "  QINGHE_DATABASE        使用服务器上的数据库（postgresql://主机/数据库名），\n"
               "                         优先于 sys.ini 的“数据库”；密码写在 ~/.pgpass\n");
}

QStringList arguments(int argc, char* argv[])
{
    QStringList list;
    for (int i = 0; i < argc; ++i)
        list << QString::fromLocal8Bit(argv[i]);
    return list;
}

Choice choose(const QStringList& arguments)
{
    QCommandLineParser parser;
    // Qt's options are written with one dash (-platform), and a command's options are its own.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    parser.addOption(helpOption);
    parser.addOption(versionOption);
    parser.addOptions(windowSystemOptions());
    const QString wrong =
        mistake(parser, windowSystemOptions(), std::numeric_limits<qsizetype>::max(), arguments);
    if (!wrong.isEmpty())
        return answered(2, QStringLiteral("qinghe：%1\n\n").arg(wrong) + usage(), stderr);
    if (parser.isSet(helpOption))
        return answered(0, usage(), stdout);
    if (parser.isSet(versionOption))
        return answered(0, QStringLiteral("qinghe %1\n").arg(QStringLiteral(QINGHE_VERSION)), stdout);
    const QStringList words = parser.positionalArguments();
    if (words.isEmpty())
        return {};

    const auto command = std::find_if(commands().begin(), commands().end(),
                                      [&](const Command& c) { return c.name == words.first(); });
    if (command == commands().end())
        return answered(2, QStringLiteral("qinghe：不认识的命令“%1”\n\n").arg(words.first()) + usage(),
                        stderr);
    const QStringList own = QStringList{QStringLiteral("qinghe ") + command->name} + words.mid(1);
    QCommandLineParser commandParser;
    prepare(commandParser, *command);
    const QString commandWrong = mistake(commandParser, command->options, command->positionals, own);
    if (!commandWrong.isEmpty()) {
        return answered(
            2, QStringLiteral("qinghe %1：%2\n\n用法：\n").arg(command->name, commandWrong) + command->usage,
            stderr);
    }
    if (commandParser.isSet(helpOption))
        return answered(0, QStringLiteral("用法：\n") + command->usage, stdout);
    return {std::nullopt, &*command, own};
}

int run(const Choice& choice, int& argc, char* argv[])
{
    const Command& command = *choice.command;
    std::unique_ptr<QCoreApplication> app;
    if (command.application == Application::Core) {
        app = std::make_unique<QCoreApplication>(argc, argv);
    } else {
        // No window opens, and the command must work over SSH and in scripts, so it never asks
        // for a display unless the caller chose a platform.
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        if (command.application == Application::Gui)
            app = std::make_unique<QGuiApplication>(argc, argv);
        else
            app = std::make_unique<QApplication>(argc, argv);
    }
    QCommandLineParser parser;
    prepare(parser, command);
    parser.parse(choice.arguments);
    QTextStream out(stdout);
    QTextStream err(stderr);
    return command.run(parser, out, err);
}

} // namespace CommandLine
