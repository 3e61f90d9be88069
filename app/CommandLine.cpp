// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/CommandLine.h"
#include "app/PhotosCommand.h"

#include "archive/ArchiveCopy.h"
#include "archive/DatabaseConnection.h"
#include "archive/ProgramFolder.h"
#include "archive/ProgramFolderSetup.h"
#include "archive/Recordset.h"
#include "archive/StudentTable.h"
#include "cards/CardComposer.h"
#include "cards/CardSheet.h"
#include "exchange/AccessImport.h"
#include "formats/graphics/Fonts.h"
#include "formats/graphics/Picture.h"
#include "widgets/AdvancedGrid.h"

#include <QApplication>
#include <QFile>
#include <QTextStream>

#include <optional>

namespace CommandLine {

namespace {

struct CardsRequest {
    std::optional<QString> className;
    QString pdf;
};

// The value of `--name VALUE` or `--name=VALUE` at args[i]; advances i past it.
std::optional<QString> optionValue(const QStringList& args, qsizetype& i, const QString& name, bool* matched)
{
    const QString& arg = args[i];
    *matched = arg == name || arg.startsWith(name + u'=');
    if (!*matched)
        return std::nullopt;
    if (arg != name)
        return arg.mid(name.size() + 1);
    if (i + 1 >= args.size())
        return std::nullopt;
    return args[++i];
}

// Reads `cards` arguments; on a mistake answers nothing and leaves the reason in *error.
std::optional<CardsRequest> parseCards(const QStringList& args, QString* error)
{
    CardsRequest request;
    bool havePdf = false;
    for (qsizetype i = 1; i < args.size(); ++i) {
        bool matched = false;
        for (const QString& name : {QStringLiteral("--class"), QStringLiteral("--pdf")}) {
            const std::optional<QString> value = optionValue(args, i, name, &matched);
            if (!matched)
                continue;
            const bool isClass = name == u"--class";
            if (!value || (!isClass && value->isEmpty())) {
                *error = isClass ? QStringLiteral("--class 后面缺少班级名称")
                                 : QStringLiteral("--pdf 后面缺少文件名");
                return std::nullopt;
            }
            if (isClass ? request.className.has_value() : havePdf) {
                *error = QStringLiteral("%1 只能给一次").arg(name);
                return std::nullopt;
            }
            if (isClass) {
                request.className = *value;
            } else {
                request.pdf = *value;
                havePdf = true;
            }
            break;
        }
        if (!matched) {
            *error = QStringLiteral("不认识的参数“%1”").arg(args[i]);
            return std::nullopt;
        }
    }
    if (!havePdf) {
        *error = QStringLiteral("缺少 --pdf 文件");
        return std::nullopt;
    }
    return request;
}

int writeCards(const CardsRequest& request, QTextStream& out, QTextStream& err)
{
    const QString appFolder = ProgramFolder::locate();
    const QString databaseFile = ProgramFolder::databaseFile(appFolder);
    DatabaseConnection connection;
    if (!StudentTable::openArchive(connection, databaseFile)) {
        err << "qinghe cards：打不开学生数据库 " << databaseFile << "：" << connection.lastError() << '\n';
        return 1;
    }
    Recordset records;
    records.attach(connection);
    const QString sql =
        request.className ? StudentTable::selectClass(*request.className) : StudentTable::selectAll;
    if (!records.open(sql)) {
        err << "qinghe cards：读不出学生记录：" << records.lastError() << '\n';
        return 1;
    }
    // An empty sheet from a mistyped class name would pass for a finished job.
    if (records.recordCount() == 0) {
        if (request.className)
            err << "qinghe cards：班级“" << *request.className << "”没有学生\n";
        else
            err << "qinghe cards：数据库里没有学生\n";
        return 1;
    }

    // A card of no width or height would make a blank page that passes for the cards.
    const CardSheet::CardSize size = CardSheet::loadCardSize(appFolder);
    if (size.width <= 0 || size.height <= 0) {
        err << "qinghe cards：证件大小是 " << size.width << " × " << size.height
            << " 像素（sys.ini 的“证件宽度”和“证件高度”），证件画不出来；请在证件预览中设定证件大小\n";
        return 1;
    }
    const CardLayout layout = CardLayout::load(appFolder);
    if (!layout.background.isEmpty()) {
        QString reason;
        if (Picture::decode(layout.background, CardComposer::faceSize, &reason).isNull())
            err << "qinghe cards：背景图片“background”无法使用（" << reason << "），证件用内置的背景\n";
    }

    AdvancedGrid grid;
    CardSheet::defineGrid(grid);
    const CardComposer composer(layout);
    QStringList unreadablePhotos;
    QStringList damagedPhotos;
    const int cards = CardSheet::fill(grid, records, composer, size, &unreadablePhotos, &damagedPhotos);
    for (const QString& photo : unreadablePhotos)
        err << "qinghe cards：" << photo << "，证件上没有照片\n";
    for (const QString& photo : damagedPhotos)
        err << "qinghe cards：" << photo << '\n';
    QString error;
    const int pages = CardSheet::writePdf(grid, request.pdf, &error);
    if (pages == 0) {
        err << "qinghe cards：无法写入 PDF 文件 " << request.pdf << "：" << error << '\n';
        return 1;
    }
    out << "已写出 " << cards << " 张证件，" << pages << " 页：" << request.pdf << '\n';
    return 0;
}

int runCards(int argc, char* argv[])
{
    // The command shows no window and must work over SSH and in scripts, so it never asks
    // for a display unless the caller chose a platform.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    installFontSubstitutes();
    QTextStream out(stdout);
    QTextStream err(stderr);
    const QStringList args = app.arguments().mid(1);
    if (args.contains(u"--help") || args.contains(u"-h")) {
        out << usage();
        return 0;
    }
    QString error;
    const std::optional<CardsRequest> request = parseCards(args, &error);
    if (!request) {
        err << "qinghe cards：" << error << "\n\n" << usage();
        return 2;
    }
    return writeCards(*request, out, err);
}

struct ImportRequest {
    QString file;
    QString copyTo;
    bool append = false;
};

std::optional<ImportRequest> parseImport(const QStringList& args, QString* error)
{
    ImportRequest request;
    for (qsizetype i = 1; i < args.size(); ++i) {
        bool matched = false;
        if (const std::optional<QString> value = optionValue(args, i, QStringLiteral("--copy-to"), &matched);
            matched) {
            if (!value || value->isEmpty()) {
                *error = QStringLiteral("--copy-to 后面缺少文件名");
                return std::nullopt;
            }
            request.copyTo = *value;
        } else if (args[i] == u"--append") {
            request.append = true;
        } else if (args[i].startsWith(u'-') || !request.file.isEmpty()) {
            *error = QStringLiteral("不认识的参数“%1”").arg(args[i]);
            return std::nullopt;
        } else {
            request.file = args[i];
        }
    }
    if (request.file.isEmpty()) {
        *error = QStringLiteral("缺少 Access 数据库文件");
        return std::nullopt;
    }
    if (request.append && !request.copyTo.isEmpty()) {
        *error = QStringLiteral("--append 与 --copy-to 不能同时使用");
        return std::nullopt;
    }
    return request;
}

// The reason, and what libmdb complained of on the way, for whoever looks into a damaged file.
void refused(const AccessImport::Result& result, QTextStream& err)
{
    err << "qinghe import-access：" << result.error << '\n';
    if (!result.readerNotes.isEmpty())
        err << "Access 读取程序的提示：\n" << result.readerNotes << '\n';
}

int importAccess(const QStringList& args, QTextStream& out, QTextStream& err)
{
    QString error;
    const std::optional<ImportRequest> request = parseImport(args, &error);
    if (!request) {
        err << "qinghe import-access：" << error << "\n\n" << usage();
        return 2;
    }
    if (!request->copyTo.isEmpty()) {
        const AccessImport::Result result = AccessImport::copyTo(request->file, request->copyTo);
        if (!result.ok) {
            refused(result, err);
            return 1;
        }
        out << "已复制 " << result.tables << " 个表，共 " << result.rows << " 行：" << request->copyTo
            << '\n';
        return 0;
    }
    const QString archive = ProgramFolder::databaseFile(ProgramFolder::locate());
    const AccessImport::Result result = AccessImport::importArchive(request->file, archive, request->append);
    if (!result.ok) {
        refused(result, err);
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
int runArchive(const QStringList& args, QTextStream& out, QTextStream& err)
{
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

} // namespace

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
    return QStringLiteral(
        "用法：\n"
        "  qinghe                 打开青禾名录主窗口\n"
        "  qinghe cards [--class 班级] --pdf 文件\n"
        "                         把全部学生（或一个班级学生）的证件排成证件页，\n"
        "                         写成 PDF 文件，不打开窗口\n"
        "  qinghe photos (--class 班级 | --all) --to 文件夹 --standard 规格 [--force]\n"
        "                         按照片规格（学籍、毕业、一寸、二寸……）裁剪、压缩照片，\n"
        "                         以编号命名写入文件夹；有学生没写出时退出码为 3\n"
        "  qinghe photos --import 文件夹 --class 班级 [--replace]\n"
        "                         载入以编号或姓名命名的一批照片，按人脸裁剪后存入档案\n"
        "  qinghe archive copy 从哪里 到哪里\n"
        "                         把整个数据库复制到另一处：数据库文件或\n"
        "                         postgresql://主机/数据库名 的服务器数据库，\n"
        "                         目标里不能已有记录\n"
        "  qinghe import-access 文件 [--append]\n"
        "                         把 Windows 上的 Access 学生数据库（学生信息.mdb）转换成\n"
        "                         本程序的数据库 DB/学生信息.mdb；已有学生时要加 --append，\n"
        "                         学生加在后面，班级和密码不变\n"
        "  qinghe import-access 文件 --copy-to 新文件\n"
        "                         把任何 Access 数据库的全部表复制到一个新的 SQLite 文件\n"
        "  qinghe --help          显示本说明\n"
        "  qinghe --version       显示版本\n"
        "\n"
        "环境变量：\n"
        "  QINGHE_FOLDER          使用另一个程序文件夹（其中有 DB/学生信息.mdb 和 sys.ini）\n"
        "  QINGHE_CAMERA_IMAGE    用一张图片代替摄像头（没有摄像头时试用）\n"
        "  QINGHE_DATABASE        使用服务器上的数据库（postgresql://主机/数据库名），\n"
        "                         优先于 sys.ini 的“数据库”；密码写在 ~/.pgpass\n");
}

int run(int argc, char* argv[])
{
    if (argc >= 2 && QByteArray(argv[1]) == "cards")
        return runCards(argc, argv);
    if (argc >= 2 && QByteArray(argv[1]) == "photos")
        return runPhotosCommand(argc, argv);
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
    if (command == u"import-access")
        return importAccess(args, out, err);
    if (command == u"archive")
        return runArchive(args, out, err);
    if (command == u"--version") {
        out << "qinghe " << QStringLiteral(QINGHE_VERSION) << '\n';
        return 0;
    }
    err << "qinghe：不认识的命令“" << command << "”\n\n" << usage();
    return 2;
}

} // namespace CommandLine
