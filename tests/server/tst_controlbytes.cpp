// SPDX-License-Identifier: GPL-3.0-or-later
// NUL and other control bytes in the site's form fields, on the archive file and on a
// PostgreSQL server the test starts: a search with one finds nothing, a login with one fails
// as a wrong password does, up.asp refuses to store one and says in which field, and no NUL
// reaches either archive, whatever a page does.
#include "archive/ArchiveCopy.h"
#include "archive/ArchiveLocation.h"
#include "archive/DatabaseConnection.h"
#include "archive/ProgramFolder.h"
#include "archive/Recordset.h"
#include "archive/StudentTable.h"
#include "formats/Gbk.h"
#include "server/engine/Ado.h"
#include "server/engine/FormData.h"
#include "tests/support/PostgresServer.h"
#include "tests/support/TestFolder.h"
#include "web/SitePages.h"

#include <httplib.h>

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <memory>

namespace {

const QChar nul(0);

std::string form(const QList<std::pair<QString, QString>>& fields)
{
    QByteArray body;
    for (const auto& [name, value] : fields)
        body += (body.isEmpty() ? "" : "&") + asp::urlEncode(name) + '=' + asp::urlEncode(value);
    return body.toStdString();
}

QString text(const httplib::Result& result) { return gbk::decode(QByteArray::fromStdString(result->body)); }

// The program folder of a site whose archive is the file or a database on the server.
class Site {
public:
    Site(const QString& server)
        : m_folder(server.isEmpty())
    {
        QString error;
        if (!server.isEmpty()) {
            DatabaseConnection connection;
            if (!connection.openLocation(server) || !ArchiveCopy::createTables(connection, &error)
                || !ArchiveLocation::setServer(m_folder.path(), server, &error))
                qFatal("no server archive: %s", qPrintable(error + connection.lastError()));
        }
        DatabaseConnection connection;
        connection.openDatabaseFile(m_folder.databaseFile());
        Recordset records;
        records.attach(connection);
        records.open(StudentTable::selectClasses);
        records.addNew();
        records.writeText(u"单位", QStringLiteral("七(1)班"));
        records.writeText(u"帐号", QStringLiteral("zhang"));
        records.writeText(u"密码", QStringLiteral("pw1"));
        records.update();
        records.open(StudentTable::selectAll);
        records.addNew();
        records.writeText(u"姓名", QStringLiteral("张三"));
        records.writeText(u"班级", QStringLiteral("七(1)班"));
        records.writeText(u"住址", QStringLiteral("北京路 1 号"));
        if (!records.update())
            qFatal("no student: %s", qPrintable(records.lastError()));
        m_id = records.readInteger(u"id");

        const QString db = ProgramFolder::databaseFolder(m_folder.path());
        for (const char* file : {"login.asp", "show.asp", "up.asp", "print.js"})
            QFile::copy(QStringLiteral(QINGHE_SITE_FOLDER "/") + QLatin1String(file),
                        db + u'/' + QLatin1String(file));
        SitePages::write(m_folder.path(), SitePages::defaultTitle, SitePages::defaultOptions);
        // A page that stores what up.asp would refuse, as a page of the school's own might.
        writeTestFile(
            db + QStringLiteral("/nul.asp"),
            gbk::encode(QStringLiteral("<%\r\nSet conn = Server.CreateObject(\"ADODB.Connection\")\r\n"
                                       "conn.Open \"Data Source=\" & Server.MapPath(\"学生信息.mdb\")\r\n"
                                       "Set rs = Server.CreateObject(\"ADODB.recordset\")\r\n"
                                       "rs.Open \"Select * from 学生 where id=%1\", conn, 2, 2\r\n"
                                       "rs(\"住址\") = \"甲\" & Chr(0) & \"乙\"\r\nrs.Update\r\n%>\r\n")
                            .arg(m_id)));

        m_asp.start(QStringLiteral(QINGHE_ASP_PROGRAM), {"--root", db, "--port", "0"});
        QByteArray out;
        QElapsedTimer timer;
        timer.start();
        while (m_asp.waitForStarted(5000) && !out.contains('\n') && timer.elapsed() < 5000
               && m_asp.state() == QProcess::Running) {
            m_asp.waitForReadyRead(100);
            out += m_asp.readAllStandardOutput();
        }
        const auto port =
            QRegularExpression(QStringLiteral("端口 (\\d+)")).match(QString::fromLocal8Bit(out));
        m_port = port.hasMatch() ? port.captured(1).toInt() : 0;
    }

    ~Site()
    {
        m_asp.terminate();
        if (!m_asp.waitForFinished(3000))
            m_asp.kill();
        m_asp.waitForFinished();
    }

    httplib::Client client() const
    {
        httplib::Client c("127.0.0.1", m_port);
        c.set_read_timeout(10);
        return c;
    }
    int port() const { return m_port; }
    qint64 id() const { return m_id; }

    QString stored(QStringView field)
    {
        DatabaseConnection connection;
        connection.openDatabaseFile(m_folder.databaseFile());
        Recordset records;
        records.attach(connection);
        records.open(StudentTable::selectId(int(m_id)));
        return records.isByteField(field) ? gbk::decode(records.readBytes(field)) : records.readText(field);
    }

private:
    TestFolder m_folder;
    QProcess m_asp;
    int m_port = 0;
    qint64 m_id = 0;
};

} // namespace

class ControlBytesTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void nulQueriesAreSentAsNull_data();
    void nulQueriesAreSentAsNull();
    void formsWithControlBytes_data();
    void formsWithControlBytes();

private:
    std::unique_ptr<PostgresServer> m_server;
};

void ControlBytesTest::initTestCase()
{
    m_server = std::make_unique<PostgresServer>();
    QVERIFY2(m_server->isRunning(), qPrintable(m_server->error()));
}

void ControlBytesTest::cleanupTestCase() { m_server.reset(); }

void ControlBytesTest::nulQueriesAreSentAsNull_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QString>("sent");
    const QString n(nul);
    QTest::newRow("without") << "select * from 学生 where 姓名='甲'"
                             << "select * from 学生 where 姓名='甲'";
    QTest::newRow("one value") << "select * from 学生 where 编号='a" + n + "b'or 姓名='a" + n + "b' "
                               << "select * from 学生 where 编号=(NULL)or 姓名=(NULL) ";
    QTest::newRow("beside a doubled quote") << "select * from 设置 where 帐号='O''" + n + "' and 密码='x'"
                                            << "select * from 设置 where 帐号=(NULL) and 密码='x'";
    QTest::newRow("quote closes the value") << "select * from 学生 where 姓名='''' and 住址='" + n + "'"
                                            << "select * from 学生 where 姓名='''' and 住址=(NULL)";
    QTest::newRow("outside a value") << "select * from 学生" + n << QString();
}

void ControlBytesTest::nulQueriesAreSentAsNull()
{
    QFETCH(QString, sql);
    QFETCH(QString, sent);
    QCOMPARE(asp::queryWithoutNul(sql).value_or(QString()), sent);
}

void ControlBytesTest::formsWithControlBytes_data()
{
    QTest::addColumn<bool>("onServer");
    QTest::newRow("archive file") << false;
    QTest::newRow("PostgreSQL server") << true;
}

void ControlBytesTest::formsWithControlBytes()
{
    QFETCH(bool, onServer);
    Site site(onServer ? m_server->createDatabase() : QString());
    QVERIFY(site.port() > 0);
    auto client = site.client();
    const auto post = [&client](const char* path, const QList<std::pair<QString, QString>>& fields,
                                const httplib::Headers& headers = {}) {
        return client.Post(path, headers, form(fields), "application/x-www-form-urlencoded");
    };

    // A search with a NUL: the ordinary page, with nobody on it.
    for (const auto& [field, value] :
         QList<std::pair<QString, QString>>{{"T1", "张三" + QString(nul)},
                                            {"T1", "abc" + QString(nul) + "def"},
                                            {"select", "七(1)班" + QString(nul)}}) {
        const auto page = post("/index.asp", {{field, value}});
        QVERIFY(page);
        QVERIFY2(page->status == 200, qPrintable(text(page).right(400)));
        QVERIFY(text(page).contains(QStringLiteral("按编号或姓名")));
        QVERIFY2(!text(page).contains(QStringLiteral("张三")), qPrintable(field));
    }
    const auto found = post("/index.asp", {{"T1", "张三"}});
    QVERIFY(found && text(found).contains(QStringLiteral("张三")));

    // A login with one fails as a wrong password does.
    for (const auto& [account, password] : QList<std::pair<QString, QString>>{
             {"zhang" + QString(nul), "pw1"}, {"zhang", "pw1" + QString(nul)}}) {
        const auto login = post("/login.asp", {{"zh", account}, {"mm", password}, {"B1", "登陆"}});
        QVERIFY(login);
        QCOMPARE(login->status, 403);
        QVERIFY(text(login).contains(QStringLiteral("帐号或密码错误")));
    }
    const auto login = post("/login.asp", {{"zh", "zhang"}, {"mm", "pw1"}, {"B1", "登陆"}});
    QVERIFY(login);
    QCOMPARE(login->status, 302);
    const std::string cookie = login->get_header_value("Set-Cookie");
    const httplib::Headers session{{"Cookie", cookie.substr(0, cookie.find(';'))}};
    const std::string up = QStringLiteral("/up.asp?id=%1").arg(site.id()).toStdString();

    // up.asp names the field and stores nothing of the form.
    const QList<std::tuple<QString, QString, QString>> refused{
        {"S1", "喜欢" + QString(nul) + "画画", "备注"},
        {"T4", QStringLiteral("南京路\u0001 2 号"), "家庭住址"},
        {"T6", QStringLiteral("张\u001b[31m四"), "姓名"},
        {"T3", QStringLiteral("2001\u007f"), "出生年月"}};
    for (const auto& [field, value, caption] : refused) {
        const auto saved =
            client.Post(up, session, form({{"T4", "上海路 3 号"}, {field, value}, {"B1", "提交"}}),
                        "application/x-www-form-urlencoded");
        QVERIFY(saved);
        QCOMPARE(saved->status, 200);
        QVERIFY2(text(saved).contains(QStringLiteral("“%1”里有不能保存的控制字符").arg(caption)),
                 qPrintable(text(saved)));
        QCOMPARE(site.stored(u"住址"), QStringLiteral("北京路 1 号"));
    }
    // Tabs and line ends are text.
    const auto saved =
        client.Post(up, session, form({{"S1", "第一行\r\n\t第二行"}, {"T4", "上海路\t3 号"}, {"B1", "提交"}}),
                    "application/x-www-form-urlencoded");
    QVERIFY(saved);
    QCOMPARE(saved->status, 302);
    QCOMPARE(site.stored(u"住址"), QStringLiteral("上海路\t3 号"));
    QCOMPARE(site.stored(u"简介"), QStringLiteral("第一行\r\n\t第二行"));

    // A page that would store a NUL is stopped before the archive.
    const auto stored = client.Get(QStringLiteral("/nul.asp").toStdString());
    QVERIFY(stored);
    QCOMPARE(stored->status, 500);
    QVERIFY2(text(stored).contains(QStringLiteral("空字符")), qPrintable(text(stored)));
    QCOMPARE(site.stored(u"住址"), QStringLiteral("上海路\t3 号"));
}

QTEST_GUILESS_MAIN(ControlBytesTest)
#include "tst_controlbytes.moc"
