// SPDX-License-Identifier: GPL-3.0-or-later
// `qinghe photos` as a school runs it: a photographer's folder brought into a class and a
// class exported to a standard, by the real program, on the archive file and on a real
// PostgreSQL server, with the real web server showing an imported photo at once.
#include "archive/ArchiveCopy.h"
#include "archive/ArchiveLocation.h"
#include "archive/DatabaseConnection.h"
#include "archive/Recordset.h"
#include "archive/StudentTable.h"
#include "records/PhotoFraming.h"
#include "tests/support/AspProcess.h"
#include "tests/support/FacePicture.h"
#include "tests/support/PostgresServer.h"
#include "tests/support/TestFolder.h"

#include <httplib.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTest>

#include <memory>

namespace {

struct Run {
    int code = -1;
    QString out;
    QString err;
};

Run photos(const QStringList& arguments)
{
    QProcess process;
    process.start(QStringLiteral(QINGHE_PROGRAM), QStringList{"photos"} + arguments);
    process.waitForFinished(120000);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

QString describe(const Run& run)
{
    return QStringLiteral("exit %1\n%2%3").arg(run.code).arg(run.out, run.err);
}

// The site's fixed pages beside the archive, as the build lays them down.
QString siteFolder(const QString& db)
{
    for (const char* file : {"login.asp", "show.asp", "up.asp", "print.js"})
        QFile::copy(QStringLiteral(QINGHE_SITE_FOLDER "/") + QLatin1String(file),
                    db + u'/' + QLatin1String(file));
    return db;
}

} // namespace

class PhotosCommandTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void importThenExport_data();
    void importThenExport();
    void mistakesAreRefused();

private:
    std::unique_ptr<PostgresServer> m_server;
};

void PhotosCommandTest::initTestCase()
{
    m_server = std::make_unique<PostgresServer>();
    QVERIFY2(m_server->isRunning(), qPrintable(m_server->error()));
}

void PhotosCommandTest::cleanupTestCase() { m_server.reset(); }

void PhotosCommandTest::importThenExport_data()
{
    QTest::addColumn<bool>("onServer");
    QTest::newRow("archive file") << false;
    QTest::newRow("PostgreSQL server") << true;
}

void PhotosCommandTest::importThenExport()
{
    QFETCH(bool, onServer);
    TestFolder folder(!onServer);
    if (onServer) {
        const QString uri = m_server->createDatabase();
        DatabaseConnection connection;
        QString error;
        QVERIFY(connection.openLocation(uri) && ArchiveCopy::createTables(connection, &error));
        QVERIFY2(ArchiveLocation::setServer(folder.path(), uri, &error), qPrintable(error));
    }
    const QByteArray coffee = fileBytes(FacePicture::file("coffee.png"));
    QList<int> ids;
    {
        DatabaseConnection connection;
        QVERIFY(StudentTable::openArchive(connection, folder.databaseFile()));
        QCOMPARE(connection.describeLocation().contains(QStringLiteral("服务器")), onServer);
        Recordset records;
        records.attach(connection);
        QVERIFY(records.open(StudentTable::selectAll));
        for (const auto& [name, number, photo] :
             {std::tuple<QString, QString, QByteArray>{"张三", "2024001", {}},
              {"李四", "2024002", {}},
              {"王五", "", coffee}}) {
            QVERIFY(records.addNew() && records.writeText(u"姓名", name)
                    && records.writeText(u"班级", "七(1)班") && records.writeText(u"编号", number)
                    && records.writeBytes(u"照片", photo) && records.update());
        }
        QVERIFY(records.open(StudentTable::selectAll));
        for (; !records.atEnd(); records.moveNext())
            ids << records.readInteger(u"id");
    }
    AspProcess asp(QStringLiteral(QINGHE_ASP_PROGRAM), siteFolder(folder.path() + QStringLiteral("/DB")));
    QVERIFY(asp.port() > 0);
    httplib::Client site("127.0.0.1", asp.port());
    site.set_read_timeout(10);
    QVERIFY(site.Get(QStringLiteral("/show.asp?id=%1").arg(ids[0]).toStdString())); // the site is up first

    const QString cameraFolder = folder.path() + QStringLiteral("/摄影师");
    QDir().mkpath(cameraFolder);
    const QImage portrait = FacePicture::portrait(QSize(960, 1280), 300, QPointF(480, 560));
    writeTestFile(cameraFolder + QStringLiteral("/2024001.jpg"), PhotoFraming::jpeg(portrait, 90));
    writeTestFile(cameraFolder + QStringLiteral("/李四.jpg"), FacePicture::sidewaysJpeg(portrait));
    writeTestFile(cameraFolder + QStringLiteral("/陌生人.jpg"), PhotoFraming::jpeg(portrait, 90));
    Run run = photos({"--import", cameraFolder, "--class", "七(1)班"});
    QVERIFY2(run.code == 3, qPrintable(describe(run))); // one file matched nobody
    QVERIFY2(run.err.contains(QStringLiteral("没有对应的学生：陌生人.jpg")), qPrintable(describe(run)));
    QVERIFY2(run.out.contains(QStringLiteral("已载入 2 张照片")), qPrintable(describe(run)));

    // The site shows the new photo at once, the very bytes the archive holds.
    QByteArray stored;
    {
        DatabaseConnection connection;
        QVERIFY(StudentTable::openArchive(connection, folder.databaseFile()));
        Recordset records;
        records.attach(connection);
        QVERIFY(records.open(StudentTable::selectId(ids[1])));
        stored = records.readBytes(u"照片");
    }
    const auto shown = site.Get(QStringLiteral("/show.asp?id=%1").arg(ids[1]).toStdString());
    QVERIFY(shown);
    QCOMPARE(shown->status, 200);
    QCOMPARE(QByteArray::fromStdString(shown->body), stored);
    QCOMPARE(QImage::fromData(stored).size(), PhotoFraming::archivePhotoSize);

    // 王五's photo shows no face: left out, and said so, unless forced.
    const QString upload = folder.path() + QStringLiteral("/上传");
    run = photos({"--class", "七(1)班", "--to", upload, "--standard", "毕业"});
    QVERIFY2(run.code == 3, qPrintable(describe(run)));
    QVERIFY2(run.err.contains(QStringLiteral("没有写出 七(1)班王五：照片里没有找到人脸")),
             qPrintable(describe(run)));
    QCOMPARE(QDir(upload).entryList(QDir::Files), QStringList({"2024001.jpg", "2024002.jpg"}));
    run = photos({"--class", "七(1)班", "--to", upload, "--standard", "毕业", "--force"});
    QVERIFY2(run.code == 0, qPrintable(describe(run)));
    QCOMPARE(QDir(upload).entryList(QDir::Files),
             QStringList({"2024001.jpg", "2024002.jpg", "七(1)班王五.jpg"}));
    QCOMPARE(QImage(upload + QStringLiteral("/2024002.jpg")).size(), QSize(480, 640));
}

void PhotosCommandTest::mistakesAreRefused()
{
    TestFolder folder;
    for (const QStringList& arguments :
         {QStringList{"--to", "x", "--standard", "毕业"},
          QStringList{"--class", "七(1)班", "--all", "--to", "x", "--standard", "毕业"},
          QStringList{"--class", "七(1)班", "--to", "x"}, QStringList{"--import", "x"},
          QStringList{"--class", "七(1)班", "--to", "x", "--standard", "三寸"}}) {
        const Run run = photos(arguments);
        QVERIFY2(run.code == 2, qPrintable(arguments.join(u' ') + u'\n' + describe(run)));
        QVERIFY(!run.err.isEmpty());
    }
    QVERIFY(!QFile::exists(QStringLiteral("x")));
}

QTEST_MAIN(PhotosCommandTest)
#include "tst_photoscommand.moc"
