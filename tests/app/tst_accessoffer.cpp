// SPDX-License-Identifier: GPL-3.0-or-later
// A folder copied across from Windows, whose archive is still the Access file.
#include "app/MainWindow.h"
#include "app/StartupCheck.h"
#include "archive/jet/JetFile.h"
#include "exchange/AccessConversion.h"
#include "formats/Gbk.h"
#include "tests/support/Controls.h"
#include "tests/support/TestFolder.h"
#include "tests/support/TestServices.h"
#include "web/SitePages.h"

#include <QApplication>
#include <QComboBox>
#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLineEdit>
#include <QProcess>
#include <QProgressDialog>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <unistd.h>

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

// The processes this test has started that are still there, zombies included.
QList<pid_t> childProcesses()
{
    QList<pid_t> found;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        const QByteArray stat = fileBytes(QStringLiteral("/proc/") + entry + QStringLiteral("/stat"));
        const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
        if (fields.value(1).toInt() == getpid())
            found << entry.toInt();
    }
    return found;
}

[[maybe_unused]] qint64 residentBytes()
{
    return fileBytes(QStringLiteral("/proc/self/statm")).split(' ').value(1).toLongLong()
           * sysconf(_SC_PAGESIZE);
}

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
    void cancelEndsAStalledReaderAtOnce();
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

void AccessOfferTest::cancelEndsAStalledReaderAtOnce()
{
    TestFolder folder(false);
    const QByteArray original = fileBytes(accessFile);
    writeTestFile(folder.databaseFile(), original);
    // The Access reader stuck on a worn stick: it stops before it reads anything, and would
    // stay so until the watchdog's seconds were up.
    QTemporaryDir dir;
    const QString stuck =
        writeTestFile(dir.filePath(QStringLiteral("reader.sh")),
                      "#!/bin/sh\nkill -STOP $$\nexec \"" + qgetenv("QINGHE_JET_READER") + "\" \"$@\"\n");
    QFile::setPermissions(stuck, QFile::ReadOwner | QFile::ExeOwner);
    const QByteArray reader = qgetenv("QINGHE_JET_READER");
    qputenv("QINGHE_JET_READER", stuck.toLocal8Bit());

    // The conversion runs while the window is being made: the progress window is found and
    // its "取消" pressed as a person would, once it shows.
    QElapsedTimer sinceCancel;
    qint64 readerGoneAfter = -1;
    QList<pid_t> stalled;
    QTimer watch;
    connect(&watch, &QTimer::timeout, this, [&] {
        if (sinceCancel.isValid()) {
            if (readerGoneAfter < 0 && childProcesses().isEmpty())
                readerGoneAfter = sinceCancel.elapsed();
            return;
        }
        auto* progress = qobject_cast<QProgressDialog*>(QApplication::activeModalWidget());
        stalled = childProcesses();
        if (!progress || !progress->isVisible() || stalled.isEmpty())
            return;
        auto* cancel = progress->findChild<QPushButton*>();
        QVERIFY(cancel);
        QCOMPARE(cancel->text(), QStringLiteral("取消"));
        sinceCancel.start();
        cancel->click();
    });
    watch.start(10);
    Start start(true);
    watch.stop();
    qputenv("QINGHE_JET_READER", reader);

    QVERIFY2(sinceCancel.isValid(), "the progress window showed with its 取消");
    QCOMPARE(stalled.size(), 1);
    QVERIFY(readerGoneAfter >= 0);
    QVERIFY2(readerGoneAfter < 1000, qPrintable(QString::number(readerGoneAfter)));
    QVERIFY(childProcesses().isEmpty());
    const QList<ShownDialog>& shown = start.services.dialogs.shown;
    QCOMPARE(shown.size(), 2);
    QVERIFY2(shown[1].text.startsWith(QStringLiteral("已取消转换。原来的 Access 文件没有改动")),
             qPrintable(shown[1].text));
    QCOMPARE(fileBytes(folder.databaseFile()), original);
    QVERIFY(!QFileInfo::exists(backupOf(folder)));

    // Nothing goes on working and growing once the window has said it stopped. (Under
    // AddressSanitizer freed memory waits in quarantine, so any painting grows the window.)
#ifndef __SANITIZE_ADDRESS__
    const qint64 settled = residentBytes();
    QTest::qWait(1000);
    QVERIFY2(residentBytes() - settled < (qint64(5) << 20),
             qPrintable(QString::number((residentBytes() - settled) >> 20)));
#endif
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
