// SPDX-License-Identifier: GPL-3.0-or-later
#include "formats/IniFile.h"
#include "tests/cards/PdfReader.h"
#include "tests/support/TestFolder.h"

#include <QBuffer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct Result {
    int exitCode = -1;
    QString out;
    QString err;
};

// Runs the real program as a script would, with no display at all.
Result run(const QString& program, const QStringList& arguments, const QStringList& settings = {})
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove("DISPLAY");
    environment.remove("WAYLAND_DISPLAY");
    environment.remove("QT_QPA_PLATFORM");
    for (const QString& setting : settings)
        environment.insert(setting.section(u'=', 0, 0), setting.section(u'=', 1));
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    if (!process.waitForFinished(60000))
        return {};
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

// A photo that JPEG cannot make small, so a sheet of them is a file of some size.
QByteArray noisyPhoto(int seed)
{
    QImage image(300, 400, QImage::Format_RGB32);
    quint32 state = quint32(seed) * 2654435761u + 1;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            state = state * 1664525u + 1013904223u;
            image.setPixel(x, y, state >> 8);
        }
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", 80);
    return bytes;
}

Result qinghe(const QStringList& arguments, const QStringList& settings = {})
{
    return run(QStringLiteral(QINGHE_EXECUTABLE), arguments, settings);
}

// Every file and folder under `root`, so that a run can be seen to have made none.
QStringList entriesUnder(const QString& root)
{
    QStringList entries;
    for (QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                         QDirIterator::Subdirectories);
         it.hasNext();)
        entries << it.next();
    entries.sort();
    return entries;
}

} // namespace

class CommandLineTest : public QObject {
    Q_OBJECT

private slots:
    void helpListsTheCardsCommand();
    void answersTouchNothing_data();
    void answersTouchNothing();
    void badArgumentsAreRefused_data();
    void badArgumentsAreRefused();
    void writesTheSheetOfAllStudents();
    void writesTheSheetOfOneClass();
    void cardPrinterPagesAreCards_data();
    void cardPrinterPagesAreCards();
    void cardsCreateNoWidget();
    void nothingToPrintIsAnError_data();
    void nothingToPrintIsAnError();
    void unwritableFileIsAnError();
    void archiveIsNeverThePdf();
    void fullDiskKeepsTheOldFile();
    void cardOfNoSizeIsRefused_data();
    void cardOfNoSizeIsRefused();
    void unusableBackgroundIsReported();
    void undecodablePhotoNamesTheStudent();
    void simplifiedFormsUnderAnyLocale_data();
    void simplifiedFormsUnderAnyLocale();
};

void CommandLineTest::helpListsTheCardsCommand()
{
    for (const QStringList& arguments : {QStringList{"--help"}, QStringList{"cards", "--help"}}) {
        const Result result = qinghe(arguments);
        QCOMPARE(result.exitCode, 0);
        QVERIFY2(result.out.contains("qinghe cards [--class 班级] --pdf 文件"), qPrintable(result.out));
    }
}

void CommandLineTest::answersTouchNothing_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("output");
    const QString qinghe = QStringLiteral(QINGHE_EXECUTABLE);
    const QString asp = QStringLiteral(QINGHE_ASP_PROGRAM);
    const QString initdb = QStringLiteral(QINGHE_INITDB);
    const QString version = QStringLiteral(QINGHE_VERSION);
    QTest::newRow("qinghe --help") << qinghe << QStringList{"--help"} << 0 << "qinghe archive copy";
    QTest::newRow("qinghe -h") << qinghe << QStringList{"-h"} << 0 << "用法：";
    QTest::newRow("qinghe --version") << qinghe << QStringList{"--version"} << 0 << "qinghe " + version;
    QTest::newRow("qinghe cards --help") << qinghe << QStringList{"cards", "--help"} << 0 << "--pdf 文件";
    QTest::newRow("qinghe import-access --help")
        << qinghe << QStringList{"import-access", "--help"} << 0 << "--copy-to 新文件";
    QTest::newRow("qinghe --bogus") << qinghe << QStringList{"--bogus"} << 2 << "不认识的参数“--bogus”";
    QTest::newRow("qinghe -x") << qinghe << QStringList{"-x"} << 2 << "不认识的参数“-x”";
    QTest::newRow("qinghe archive --bogus")
        << qinghe << QStringList{"archive", "--bogus"} << 2 << "不认识的参数“--bogus”";
    QTest::newRow("asp --help") << asp << QStringList{"--help"} << 0 << "--background";
    QTest::newRow("asp --version") << asp << QStringList{"--version"} << 0 << "asp " + version;
    QTest::newRow("asp --bogus") << asp << QStringList{"--bogus"} << 2 << "不认识的参数“--bogus”";
    QTest::newRow("asp stray word") << asp << QStringList{"DB"} << 2 << "不认识的参数“DB”";
    QTest::newRow("asp --port without port") << asp << QStringList{"--port"} << 2 << "--port 后面缺少值";
    QTest::newRow("initdb --help") << initdb << QStringList{"--help"} << 0 << "--server";
    QTest::newRow("initdb --version")
        << initdb << QStringList{"--version"} << 0 << "qinghe-initdb " + version;
    QTest::newRow("initdb --bogus") << initdb << QStringList{"--bogus"} << 2 << "不认识的参数“--bogus”";
    QTest::newRow("initdb two folders") << initdb << QStringList{"a", "b"} << 2 << "用法：";
    QTest::newRow("initdb folder and server")
        << initdb << QStringList{"a", "--server", "postgresql://db/x"} << 2 << "用法：";
}

// Asked for help, for the version or with a mistyped option, a program answers and leaves no
// trace: no archive, no folder, no settings or caches under a fresh home.
void CommandLineTest::answersTouchNothing()
{
    QFETCH(QString, program);
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, output);
    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString home = root.filePath("home");
    const QString cwd = root.filePath("cwd");
    QVERIFY(QDir().mkpath(home) && QDir().mkpath(cwd));
    QProcessEnvironment environment;
    environment.insert("PATH", qEnvironmentVariable("PATH"));
    environment.insert("HOME", home);
    environment.insert("LANG", "C.UTF-8");
    const QStringList before = entriesUnder(root.path());

    QProcess process;
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(cwd);
    process.start(program, arguments);
    QVERIFY(process.waitForFinished(30000));
    const QString out = QString::fromUtf8(process.readAllStandardOutput());
    const QString err = QString::fromUtf8(process.readAllStandardError());
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), exitCode);
    // An answer goes to standard output, a refusal with the usage to standard error.
    const QString said = exitCode == 0 ? out : err;
    QVERIFY2(said.contains(output), qPrintable(out + err));
    if (exitCode != 0)
        QVERIFY2(err.contains("用法：") && out.isEmpty(), qPrintable(out + err));
    QCOMPARE(entriesUnder(root.path()), before);
}

void CommandLineTest::badArgumentsAreRefused_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");
    QTest::newRow("no --pdf") << QStringList{"cards"} << "缺少 --pdf 文件";
    QTest::newRow("--pdf without file") << QStringList{"cards", "--pdf"} << "--pdf 后面缺少文件名";
    QTest::newRow("--pdf= without file") << QStringList{"cards", "--pdf="} << "--pdf 后面缺少文件名";
    QTest::newRow("--class without name")
        << QStringList{"cards", "--pdf", "x.pdf", "--class"} << "--class 后面缺少班级名称";
    QTest::newRow("unknown option") << QStringList{"cards", "--pdf", "x.pdf", "--colour"}
                                    << "不认识的参数“--colour”";
    QTest::newRow("stray word") << QStringList{"cards", "x.pdf"} << "不认识的参数“x.pdf”";
    QTest::newRow("two files") << QStringList{"cards", "--pdf", "a.pdf", "--pdf=b.pdf"} << "--pdf 只能给一次";
    QTest::newRow("unknown command") << QStringList{"card"} << "不认识的命令“card”";
}

void CommandLineTest::badArgumentsAreRefused()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);
    TestFolder folder;
    folder.addStudents({{"张三", "一班", "1", {}}});
    const Result result = qinghe(arguments);
    QCOMPARE(result.exitCode, 2);
    QVERIFY2(result.err.contains(message), qPrintable(result.err));
    QVERIFY(result.err.contains("用法："));
    QVERIFY(!QFile::exists("x.pdf") && !QFile::exists("a.pdf"));
}

void CommandLineTest::writesTheSheetOfAllStudents()
{
    TestFolder folder;
    QList<TestFolder::Student> students;
    for (int i = 0; i < 9; ++i)
        students.append(
            {QString("学生%1").arg(i), i < 5 ? "七(1)班" : "七(2)班", QString::number(i), jpegBytes(30, 40)});
    folder.addStudents(students);
    QTemporaryDir dir;
    const QString file = dir.filePath("全部 证件.pdf");
    const Result result = qinghe({"cards", "--pdf", file});
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.out, QString("已写出 9 张证件，2 页：%1\n").arg(file));
    // The sheet as printing lays it out: eight cards on the first A4 page, one on the next,
    // their names as text and their photos at their own 30 × 40 pixels.
    QCOMPARE(pdf::text(file, 1).count("学生"), 8);
    QCOMPARE(pdf::text(file, 2).count("学生"), 1);
    int photos = 0;
    for (const pdf::Image& image : pdf::images(file))
        photos += QSize(image.width, image.height) == QSize(30, 40) ? 1 : 0;
    QCOMPARE(photos, 9);
}

void CommandLineTest::writesTheSheetOfOneClass()
{
    TestFolder folder;
    folder.addStudents(
        {{"甲", "七(1)班", "1", {}}, {"乙", "O'Neil班", "2", {}}, {"丙", "O'Neil班", "3", {}}});
    IniFile::write(folder.settingsFile(), u"sys", u"证件宽度", u"400");
    QTemporaryDir dir;
    const QString file = dir.filePath("class.pdf");
    const Result result = qinghe({"cards", "--class=O'Neil班", "--pdf", file});
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(pdf::imagesPerPage(file), QList<int>({2}));
    // 400-pixel cards: the sheet is turned to landscape to fit across.
    const auto size = QRegularExpression("Page size:\\s+(\\d+) x (\\d+)").match(pdf::run("pdfinfo", {file}));
    QVERIFY(size.captured(1).toInt() > size.captured(2).toInt());
}

void CommandLineTest::cardPrinterPagesAreCards_data()
{
    QTest::addColumn<QString>("width");
    QTest::addColumn<QString>("height");
    QTest::addColumn<QSizeF>("card"); // in millimetres
    QTest::newRow("ID-1") << "324"
                          << "204" << QSizeF(85.60, 53.98);
    QTest::newRow("the sheet's default") << ""
                                         << "" << QSizeF(350 * 25.4 / 96, 230 * 25.4 / 96);
}

// One page a card, in the students' order, each the card and its bleed; the background, not
// the paper's white, reaches every edge of the page.
void CommandLineTest::cardPrinterPagesAreCards()
{
    QFETCH(QString, width);
    QFETCH(QString, height);
    QFETCH(QSizeF, card);
    TestFolder folder;
    if (!width.isEmpty())
        IniFile::write(folder.settingsFile(), u"sys", {{"证件宽度", width}, {"证件高度", height}});
    QFile background(folder.path() + "/background");
    QVERIFY(background.open(QIODevice::WriteOnly));
    background.write(pngBytes(400, 260, Qt::darkBlue));
    background.close();
    folder.addStudents({{"甲一", "七(1)班", "1", jpegBytes(30, 40)},
                        {"乙二", "七(1)班", "2", {}},
                        {"丙三", "七(1)班", "3", jpegBytes(30, 40)}});
    QTemporaryDir dir;
    const QString file = dir.filePath("cards.pdf");
    const Result result = qinghe({"cards", "--pdf", file, "--card-printer"});
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.out, QString("已写出 3 张证件，3 页：%1\n").arg(file));
    const QStringList names{"甲一", "乙二", "丙三"};
    const QList<QSizeF> sizes = pdf::pageSizes(file);
    QCOMPARE(sizes.size(), names.size());
    for (int page = 1; page <= names.size(); ++page) {
        const QSizeF size = sizes[page - 1];
        QVERIFY2(std::abs(size.width() - (card.width() + 2)) <= 0.35
                     && std::abs(size.height() - (card.height() + 2)) <= 0.35,
                 qPrintable(QString("page %1: %2 × %3 mm").arg(page).arg(size.width()).arg(size.height())));
        QCOMPARE(pdf::text(file, page).simplified(), names[page - 1] + " 七(1)班 " + QString::number(page));
        // Pages are whole points, so at ten pixels a point the outermost pixels are whole.
        const QImage image = pdf::page(file, page, 720);
        const int r = image.width() - 1;
        const int b = image.height() - 1;
        for (const QPoint corner : {QPoint(0, 0), QPoint(r, 0), QPoint(0, b), QPoint(r, b), QPoint(r / 2, 0),
                                    QPoint(0, b / 2), QPoint(r, b / 2), QPoint(r / 2, b)})
            QVERIFY2(qGray(image.pixel(corner)) < 100,
                     qPrintable(QString("page %1 (%2, %3)").arg(page).arg(corner.x()).arg(corner.y())));
    }
}

void CommandLineTest::cardsCreateNoWidget()
{
    // A QApplication looks for the style it is asked for when it starts, and says so when there
    // is none; an application without widgets never looks. The main window of the same program
    // shows that the question is heard.
    TestFolder folder;
    folder.addStudents({{"张三", "七(1)班", "1", jpegBytes(30, 40)}});
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("QT_STYLE_OVERRIDE", "no-such-style");
    QProcess window;
    window.setProcessEnvironment(environment);
    window.start(QStringLiteral(QINGHE_EXECUTABLE), {});
    QVERIFY(window.waitForStarted());
    QByteArray said;
    for (int waited = 0; waited < 100 && !said.contains("no-such-style"); ++waited) {
        window.waitForReadyRead(100);
        said += window.readAllStandardError();
    }
    window.kill();
    window.waitForFinished();
    QVERIFY2(said.contains("no-such-style"), said.constData());

    QTemporaryDir dir;
    const QString file = dir.filePath("cards.pdf");
    const Result cards = qinghe({"cards", "--pdf", file}, {"QT_STYLE_OVERRIDE=no-such-style"});
    QCOMPARE(cards.exitCode, 0);
    QVERIFY2(!cards.err.contains("no-such-style"), qPrintable(cards.err));
    QVERIFY(pdf::text(file).contains("张三"));
}

void CommandLineTest::nothingToPrintIsAnError_data()
{
    QTest::addColumn<QStringList>("selection");
    QTest::addColumn<bool>("withStudents");
    QTest::addColumn<QString>("message");
    QTest::newRow("class without students")
        << QStringList{"--class", "八(3)班"} << true << "班级“八(3)班”没有学生";
    QTest::newRow("empty database") << QStringList{} << false << "数据库里没有学生";
}

void CommandLineTest::nothingToPrintIsAnError()
{
    QFETCH(QStringList, selection);
    QFETCH(bool, withStudents);
    QFETCH(QString, message);
    TestFolder folder;
    if (withStudents)
        folder.addStudents({{"甲", "七(1)班", "1", {}}});
    QTemporaryDir dir;
    const QString file = dir.filePath("none.pdf");
    const Result result = qinghe(QStringList{"cards", "--pdf", file} + selection);
    QCOMPARE(result.exitCode, 1);
    QVERIFY2(result.err.contains(message), qPrintable(result.err));
    QVERIFY(!QFile::exists(file));
}

void CommandLineTest::unwritableFileIsAnError()
{
    TestFolder folder;
    folder.addStudents({{"甲", "七(1)班", "1", {}}});
    const Result missingFolder = qinghe({"cards", "--pdf", "/nonexistent-folder/x.pdf"});
    QCOMPARE(missingFolder.exitCode, 1);
    QVERIFY2(missingFolder.err.contains("无法写入 PDF 文件 /nonexistent-folder/x.pdf：文件夹不存在"),
             qPrintable(missingFolder.err));

    TestFolder noDatabase(false);
    QTemporaryDir dir;
    const Result result = qinghe({"cards", "--pdf", dir.filePath("x.pdf")});
    QCOMPARE(result.exitCode, 1);
    QVERIFY2(result.err.contains("打不开学生数据库"), qPrintable(result.err));
}

void CommandLineTest::archiveIsNeverThePdf()
{
    // A slip of the tab key names the archive, its log or a link to it: the students stay.
    TestFolder folder;
    folder.addStudents({{"甲", "七(1)班", "1", {}}});
    QTemporaryDir dir;
    const QString link = dir.filePath("cards.pdf");
    QVERIFY(QFile::link(folder.databaseFile(), link));
    const QByteArray before = fileBytes(folder.databaseFile());
    for (const QString& pdf : {folder.databaseFile(), folder.databaseFile() + "-wal", link}) {
        const Result result = qinghe({"cards", "--pdf", pdf});
        QCOMPARE(result.exitCode, 1);
        QVERIFY2(result.err.contains("不能把 PDF 写到学生数据库"), qPrintable(result.err));
        QCOMPARE(fileBytes(folder.databaseFile()), before);
        QVERIFY(!QFileInfo::exists(folder.databaseFile() + "-wal")
                || QFileInfo(folder.databaseFile() + "-wal").size() == 0);
    }
}

void CommandLineTest::fullDiskKeepsTheOldFile()
{
    TestFolder folder;
    QList<TestFolder::Student> students;
    for (int i = 0; i < 12; ++i)
        students.append({QString("学生%1").arg(i), "七(1)班", QString::number(i), noisyPhoto(i)});
    folder.addStudents(students);
    QTemporaryDir dir;
    const QString file = dir.filePath("cards.pdf");
    QCOMPARE(qinghe({"cards", "--pdf", file}).exitCode, 0);
    QFile written(file);
    QVERIFY(written.open(QIODevice::ReadOnly));
    const QByteArray old = written.readAll();
    written.close();
    QVERIFY(old.size() > 1024 * 1024);

    // No file of the program may grow past half the old one, as on a disk that fills up on the way.
    const Result result = run("/bin/sh", {"-c", QString("ulimit -f %1 && exec \"%2\" cards --pdf \"%3\"")
                                                    .arg(old.size() / 2048)
                                                    .arg(QStringLiteral(QINGHE_EXECUTABLE), file)});
    QCOMPARE(result.exitCode, 1);
    QVERIFY2(result.err.contains(QString("无法写入 PDF 文件 %1：文件太大").arg(file)),
             qPrintable(result.err));
    QVERIFY(written.open(QIODevice::ReadOnly));
    QCOMPARE(written.readAll(), old);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"cards.pdf"});
}

void CommandLineTest::cardOfNoSizeIsRefused_data()
{
    QTest::addColumn<QString>("width");
    QTest::addColumn<QString>("height");
    QTest::newRow("no width") << "0"
                              << "230";
    QTest::newRow("no height") << "350"
                               << "0";
    QTest::newRow("negative") << "-5"
                              << "-5";
    QTest::newRow("not a number") << "宽"
                                  << "230";
}

void CommandLineTest::cardOfNoSizeIsRefused()
{
    QFETCH(QString, width);
    QFETCH(QString, height);
    TestFolder folder;
    folder.addStudents({{"甲", "七(1)班", "1", {}}, {"乙", "七(1)班", "2", {}}});
    IniFile::write(folder.settingsFile(), u"sys", {{"证件宽度", width}, {"证件高度", height}});
    QTemporaryDir dir;
    const QString file = dir.filePath("x.pdf");
    const Result result = qinghe({"cards", "--pdf", file});
    QCOMPARE(result.exitCode, 1);
    QVERIFY2(result.err.contains("证件大小是"), qPrintable(result.err));
    QVERIFY(!result.out.contains("已写出"));
    QVERIFY(!QFile::exists(file));
}

void CommandLineTest::unusableBackgroundIsReported()
{
    TestFolder folder;
    folder.addStudents({{"甲", "七(1)班", "1", {}}});
    QFile background(folder.path() + "/background");
    QVERIFY(background.open(QIODevice::WriteOnly));
    background.write(pngPromising(20000, 20000));
    background.close();
    QTemporaryDir dir;
    const Result result = qinghe({"cards", "--pdf", dir.filePath("x.pdf")});
    QCOMPARE(result.exitCode, 0);
    QVERIFY2(result.err.contains("背景图片“background”无法使用（图片太大"), qPrintable(result.err));
}

void CommandLineTest::undecodablePhotoNamesTheStudent()
{
    TestFolder folder;
    QByteArray damaged = jpegBytes(300, 400);
    damaged.truncate(damaged.size() / 3);
    folder.addStudents({{"甲", "七(1)班", "1", QByteArray("\xFF\xD8\xFF\xE0 not the rest of a photo")},
                        {"乙", "七(1)班", "2", damaged},
                        {"丙", "七(1)班", "3", jpegBytes(30, 40)}});
    QTemporaryDir dir;
    const Result result = qinghe({"cards", "--pdf", dir.filePath("x.pdf")});
    QCOMPARE(result.exitCode, 0);
    QVERIFY2(result.err.contains("qinghe cards：甲（七(1)班）的照片无法显示："), qPrintable(result.err));
    // Cut off part way: the card shows what decodes, and says so.
    QVERIFY2(result.err.contains("qinghe cards：乙（七(1)班）的照片已损坏，证件上只有能读出的部分"),
             qPrintable(result.err));
    QVERIFY(!result.err.contains("丙"));
    // The image decoders' own complaints are not the user's business.
    for (const char* english : {"JPEG", "Corrupt", "Premature", "libpng", "QImage"})
        QVERIFY2(!result.err.contains(english), qPrintable(result.err));
    QVERIFY(result.out.contains("已写出 3 张证件"));
}

void CommandLineTest::simplifiedFormsUnderAnyLocale_data()
{
    QTest::addColumn<QString>("face");
    QTest::addColumn<QString>("locale");
    for (const char* face : {"楷体_GB2312", "仿宋_GB2312", "方正姚体", "Arial", "Times New Roman", "宋体"}) {
        for (const char* locale : {"C.UTF-8", "en_US.UTF-8"})
            QTest::addRow("%s, %s", face, locale) << QString::fromUtf8(face) << QString::fromLatin1(locale);
    }
}

// Over SSH, in cron or on an English desktop the locale names no language; 令, 骨 and 直 must
// still print in their Simplified Chinese forms, from a Simplified Chinese face.
void CommandLineTest::simplifiedFormsUnderAnyLocale()
{
    QFETCH(QString, face);
    QFETCH(QString, locale);
    TestFolder folder;
    folder.addStudents({{"令骨直", "七(1)班", "2014001", {}}});
    for (const char* section : {"姓名设置", "班级设置", "编号设置"})
        IniFile::write(folder.settingsFile(), QString::fromUtf8(section), u"字体名称", face);
    QTemporaryDir dir;
    const QString file = dir.filePath("forms.pdf");
    const Result result =
        qinghe({"cards", "--pdf", file}, {"LANG=" + locale, "LC_ALL=" + locale,
                                          "LANGUAGE=", "LC_CTYPE=" + locale, "QT_LOGGING_RULES="});
    QCOMPARE(result.exitCode, 0);
    QVERIFY(pdf::text(file).contains("令骨直"));
    const QRegularExpression otherForms("CJK ?(JP|KR|TC|HK)", QRegularExpression::CaseInsensitiveOption);
    QStringList names;
    bool simplified = false;
    for (const pdf::Font& font : pdf::fonts(file)) {
        names << font.name;
        simplified |= QRegularExpression("CJK ?SC", QRegularExpression::CaseInsensitiveOption)
                          .match(font.name)
                          .hasMatch();
    }
    for (const QString& name : names)
        QVERIFY2(!otherForms.match(name).hasMatch(), qPrintable(names.join(", ")));
    QVERIFY2(simplified, qPrintable(names.join(", ")));
}

QTEST_GUILESS_MAIN(CommandLineTest)
#include "tst_commandline.moc"
