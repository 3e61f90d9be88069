// SPDX-License-Identifier: GPL-3.0-or-later
// A folder copied across from Windows, whose archive is still the Access file.
#include "app/MainWindow.h"
#include "app/StartupCheck.h"
#include "exchange/AccessConversion.h"
#include "platform/Gbk.h"
#include "platform/JetFile.h"
#include "tests/support/Controls.h"
#include "tests/support/TestFolder.h"
#include "tests/support/TestServices.h"
#include "web/SitePages.h"

#include <QComboBox>
#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>

namespace {

const QString accessFile = QStringLiteral(QINGHE_JET_FIXTURES "/test2V2000.mdb");

struct Start {
    TestServices services;
    std::unique_ptr<MainWindow> window;

    explicit Start(std::optional<bool> answer)
    {
        if (answer)
            services.dialogs.confirmAnswers.enqueue(*answer);
        window = std::make_unique<MainWindow>(services.context);
        window->show();
        auto* check = window->findChild<StartupCheck*>();
        QSignalSpy done(check, &StartupCheck::finished);
        if (!done.wait(10000))
            qFatal("the start-up check did not finish");
    }
    QString saveSays()
    {
        const qsizetype before = services.dialogs.shown.size();
        control<QLineEdit>(*window, "编辑框1")->setText("甲");
        control<QComboBox>(*window, "编辑框2")->setEditText("七(1)班");
        control<QPushButton>(*window, "按钮2")->click();
        return services.dialogs.shown.size() > before ? services.dialogs.shown.last().text : QString();
    }
};

QString backupOf(const TestFolder& folder)
{
    return QFileInfo(folder.databaseFile()).absolutePath() + QStringLiteral("/备份/学生信息-access-")
           + QDate::currentDate().toString(QStringLiteral("yyyyMMdd")) + QStringLiteral(".mdb");
}

} // namespace

class AccessOfferTest : public QObject {
    Q_OBJECT

private slots:
    void offeredForAnAccessArchive_data();
    void offeredForAnAccessArchive();
    void notOfferedForTheProgramsOwn();
    void webPagesSayItMustBeConverted();
};

void AccessOfferTest::offeredForAnAccessArchive_data()
{
    QTest::addColumn<bool>("convert");
    QTest::newRow("yes") << true;
    QTest::newRow("no") << false;
}

void AccessOfferTest::offeredForAnAccessArchive()
{
    QFETCH(bool, convert);
    TestFolder folder(false);
    const QByteArray original = fileBytes(accessFile);
    writeTestFile(folder.databaseFile(), original);

    Start start(convert);
    const QList<ShownDialog>& shown = start.services.dialogs.shown;
    QVERIFY(!shown.isEmpty());
    QCOMPARE(shown.first().kind, QStringLiteral("confirm"));
    QCOMPARE(shown.first().text, AccessConversion::offerText);
    if (convert) {
        // This one holds no students: refused, and nothing is written, not even the backup.
        QCOMPARE(shown.size(), 2);
        QVERIFY2(shown[1].text.contains(QStringLiteral("这不是学生档案数据库"))
                     && shown[1].text.contains(QStringLiteral("原来的 Access 文件没有改动")),
                 qPrintable(shown[1].text));
    } else {
        QCOMPARE(shown.size(), 1);
    }
    QVERIFY(!QFileInfo::exists(backupOf(folder)));
    QCOMPARE(fileBytes(folder.databaseFile()), original);

    QVERIFY(start.services.context.classList.isEmpty());
    const QString said = start.saveSays();
    QVERIFY2(said.contains(QStringLiteral("Access")) && said.contains(QStringLiteral("转换")),
             qPrintable(said));
    QCOMPARE(fileBytes(folder.databaseFile()), original);
}

void AccessOfferTest::notOfferedForTheProgramsOwn()
{
    TestFolder folder;
    folder.addClasses({"七(1)班"});
    Start start(std::nullopt);
    QVERIFY(start.services.dialogs.shown.isEmpty());
    QCOMPARE(start.saveSays(), QStringLiteral("保存成功"));
}

void AccessOfferTest::webPagesSayItMustBeConverted()
{
    TestFolder folder(false);
    const QByteArray original = fileBytes(accessFile);
    writeTestFile(folder.databaseFile(), original);
    QVERIFY(SitePages::write(folder.path(), SitePages::defaultTitle, SitePages::defaultOptions));

    QProcess asp;
    asp.start(QStringLiteral(QINGHE_ASP_PROGRAM),
              {QStringLiteral("--root"), QFileInfo(folder.databaseFile()).absolutePath(),
               QStringLiteral("--port"), QStringLiteral("0")});
    QVERIFY(asp.waitForStarted(5000));
    QByteArray out;
    while (!out.contains('\n') && asp.waitForReadyRead(5000))
        out += asp.readAllStandardOutput();
    const auto port = QRegularExpression(QStringLiteral("端口 (\\d+)")).match(QString::fromLocal8Bit(out));
    QVERIFY2(port.hasMatch(), out.constData());

    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), quint16(port.captured(1).toInt()));
    QVERIFY(socket.waitForConnected(5000));
    socket.write("GET /index.asp HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
    QByteArray answer;
    while (socket.waitForReadyRead(5000))
        answer += socket.readAll();
    asp.terminate();
    asp.waitForFinished(5000);

    const QString page = gbk::decode(answer);
    QVERIFY2(page.contains(JetFile::notConverted), qPrintable(page));
    QCOMPARE(fileBytes(folder.databaseFile()), original);
}

QTEST_MAIN(AccessOfferTest)
#include "tst_accessoffer.moc"
