// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/PhotosCommand.h"

#include "archive/DatabaseConnection.h"
#include "archive/ProgramFolder.h"
#include "archive/ProgramFolderSetup.h"
#include "archive/StudentTable.h"
#include "records/FaceFinder.h"
#include "records/PhotoFolderImport.h"
#include "records/PhotoFraming.h"
#include "records/PhotoStandard.h"
#include "records/StandardExport.h"

#include <QCommandLineParser>
#include <QDir>
#include <QTextStream>

namespace {

constexpr int leftOutCode = 3;

QString describe(const StandardExport::Student& s)
{
    const QString who = s.className + s.name;
    return s.number.isEmpty() ? who : QStringLiteral("%1（%2）").arg(who, s.number);
}

int exportToStandard(const DatabaseConnection& database, const QCommandLineParser& options, QTextStream& out,
                     QTextStream& err)
{
    QString error;
    const std::optional<PhotoStandard> standard =
        PhotoStandards::find(ProgramFolder::settingsFile(ProgramFolder::locate()),
                             options.value(QStringLiteral("standard")), &error);
    if (!standard) {
        err << "qinghe photos：" << error << '\n';
        return 2;
    }
    StandardExport::Request request;
    if (options.isSet(QStringLiteral("class")))
        request.className = options.value(QStringLiteral("class"));
    request.folder = options.value(QStringLiteral("to"));
    request.standard = *standard;
    request.force = options.isSet(QStringLiteral("force"));
    if (!PhotoFraming::threadFinder().usable()) {
        err << "qinghe photos：找不到人脸识别数据 " << FaceFinder::defaultCascadeFile() << '\n';
        return 1;
    }
    const StandardExport::Report report = StandardExport::run(database, request);
    if (!report.error.isEmpty()) {
        err << "qinghe photos：" << report.error << '\n';
        return 1;
    }
    for (const StandardExport::Student& s : report.written)
        if (!s.reasons.isEmpty())
            out << "已强制写出 " << s.file << "，" << describe(s) << "："
                << s.reasons.join(QStringLiteral("；")) << '\n';
    for (const StandardExport::Student& s : report.leftOut)
        err << "没有写出 " << describe(s) << "：" << s.reasons.join(QStringLiteral("；")) << '\n';
    out << "已按“" << standard->name << "”规格写出 " << report.written.size() << " 张照片";
    if (!report.leftOut.isEmpty())
        out << "，" << report.leftOut.size() << " 名学生没有写出";
    out << "：" << QDir::toNativeSeparators(request.folder) << '\n';
    return report.leftOut.isEmpty() ? 0 : leftOutCode;
}

int importFolder(DatabaseConnection& database, const QCommandLineParser& options, QTextStream& out,
                 QTextStream& err)
{
    if (!PhotoFraming::threadFinder().usable()) {
        err << "qinghe photos：找不到人脸识别数据 " << FaceFinder::defaultCascadeFile() << '\n';
        return 1;
    }
    const QString folder = options.value(QStringLiteral("import"));
    const PhotoFolderImport::Plan plan = PhotoFolderImport::plan(
        database, folder, options.value(QStringLiteral("class")), options.isSet(QStringLiteral("replace")));
    if (!plan.error.isEmpty()) {
        err << "qinghe photos：" << plan.error << '\n';
        return 1;
    }
    QString error;
    const int stored = PhotoFolderImport::store(database, plan, &error);
    if (stored < 0) {
        err << "qinghe photos：照片没有存入数据库：" << error << '\n';
        return 1;
    }
    for (const PhotoFolderImport::Match& m : plan.toStore)
        out << "已载入 " << m.file << " → " << m.name << '\n';
    for (const PhotoFolderImport::Match& m : plan.kept)
        out << "已有照片，保留（要替换请加 --replace）：" << m.file << " → " << m.name << '\n';
    for (const QString& file : plan.unmatched)
        err << "没有对应的学生：" << file << '\n';
    for (const PhotoFolderImport::Refusal& r : plan.refused)
        err << "没有载入 " << r.file << "：" << r.reason << '\n';
    if (!plan.stillWithout.isEmpty())
        out << "还没有照片的学生：" << plan.stillWithout.join(QStringLiteral("、")) << '\n';
    out << "已载入 " << stored << " 张照片\n";
    return plan.unmatched.isEmpty() && plan.refused.isEmpty() ? 0 : leftOutCode;
}

} // namespace

namespace PhotosCommand {

QList<QCommandLineOption> options()
{
    return {
        {QStringLiteral("class"), QStringLiteral("班级"), QStringLiteral("班级名称")},
        {QStringLiteral("all"), QStringLiteral("全部学生")},
        {QStringLiteral("to"), QStringLiteral("导出到这个文件夹"), QStringLiteral("文件夹")},
        {QStringLiteral("standard"),
         QStringLiteral("照片规格（sys.ini 的 [照片规格]）：学籍、毕业、一寸、二寸……"),
         QStringLiteral("规格")},
        {QStringLiteral("force"), QStringLiteral("达不到规格的照片也尽量写出")},
        {QStringLiteral("import"), QStringLiteral("载入这个文件夹里以编号或姓名命名的照片"),
         QStringLiteral("文件夹")},
        {QStringLiteral("replace"), QStringLiteral("已有照片的学生也换成新照片")},
    };
}

int run(const QCommandLineParser& options, QTextStream& out, QTextStream& err)
{
    const bool importing = options.isSet(QStringLiteral("import"));
    const bool oneClass = options.isSet(QStringLiteral("class"));
    QString mistake;
    if (importing && !oneClass)
        mistake = QStringLiteral("--import 要和 --class 一起用");
    else if (!importing && oneClass == options.isSet(QStringLiteral("all")))
        mistake = QStringLiteral("请给 --class 班级 或 --all 之一");
    else if (!importing
             && (!options.isSet(QStringLiteral("to")) || !options.isSet(QStringLiteral("standard"))))
        mistake = QStringLiteral("导出要给 --to 文件夹 和 --standard 规格");
    if (!mistake.isEmpty()) {
        err << "qinghe photos：" << mistake << '\n';
        return 2;
    }

    const QString databaseFile = ProgramFolder::databaseFile(ProgramFolder::locate());
    DatabaseConnection database;
    if (!StudentTable::openArchive(database, databaseFile)) {
        err << "qinghe photos：打不开学生数据库 " << databaseFile << "：" << database.lastError() << '\n';
        return 1;
    }
    return importing ? importFolder(database, options, out, err)
                     : exportToStandard(database, options, out, err);
}

} // namespace PhotosCommand
