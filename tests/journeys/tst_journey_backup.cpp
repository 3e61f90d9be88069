// SPDX-License-Identifier: GPL-3.0-or-later
// Backup: the office copies DB/学生信息.mdb as the 数据库管理 window advises, right after a
// save, while the web server and the sqlite3 shell have the archive open; the copy alone
// holds every student saved, photos and all. 重建数据库 keeps a backup of every student first.
#include "archive/ProgramFolder.h"
#include "exchange/DatabaseAdminWindow.h"
#include "tests/journeys/WindowJourney.h"
#include "web/SitePages.h"

#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

class BackupJourney : public QObject {
    Q_OBJECT

private slots:
    void copiesOfTheFileHoldEverySave();
};

void BackupJourney::copiesOfTheFileHoldEverySave()
{
    Office office({"七(1)班", "七(2)班"});
    const QString archive = office.folder.databaseFile();
    const QString site = ProgramFolder::databaseFolder(office.folder.path());
    QVERIFY(SitePages::write(office.folder.path(), SitePages::defaultTitle, SitePages::defaultOptions));
    const WebServer web(site);
    QVERIFY(web.port() > 0);
    OpenShell shell(archive);
    QCOMPARE(shell.query("select count(*) from 学生"), QStringList({"0"}));

    const QTemporaryDir backups;
    QStringList saved;
    QStringList photos;
    for (const QString& name : QStringList{"甲", "乙", "丙"}) {
        office.photograph();
        office.enter(name, "七(1)班");
        QCOMPARE(office.save(), QString("保存成功"));
        saved << name;
        const QString copy = plainCopy(archive, backups.path());
        QCOMPARE(shellRows(copy, "select group_concat(姓名) from 学生"), QStringList({saved.join(u',')}));
        photos = shellRows(archive, "select hex(照片) from 学生");
        QCOMPARE(shellRows(copy, "select hex(照片) from 学生"), photos);
        QCOMPARE(shellRows(copy, "pragma integrity_check"), QStringList({"ok"}));
        // The programs that hold the archive read the student too.
        QVERIFY(web.page("/index.asp").contains(name));
        QCOMPARE(shell.query("select count(*) from 学生"), QStringList({QString::number(saved.size())}));
    }
    QCOMPARE(archiveLockFault(), QString());
    QCOMPARE(archiveLockFault(web.pid()), QString());
    QCOMPARE(archiveLockFault(shell.pid()), QString());

    // The warning beside 重建数据库 names the file to copy; the rebuild keeps its own copy.
    auto* admin = office.open<DatabaseAdminWindow>(*office.main, "数据库管理");
    QVERIFY(admin);
    QVERIFY(control<QLabel>(*admin, "标签5")->text().contains("学生信息.mdb"));
    office.services.dialogs.textAnswers.enqueue(QString("514"));
    control<QPushButton>(*admin, "按钮2")->click();
    const QString said = office.services.dialogs.last().text;
    QVERIFY2(said.startsWith("重建数据库成功！\n原来的数据已备份到："), qPrintable(said));
    const QString backup = said.section(u'：', 1);
    QCOMPARE(shellRows(backup, "select group_concat(姓名) from 学生"), QStringList({"甲,乙,丙"}));
    QCOMPARE(shellRows(backup, "select hex(照片) from 学生"), photos);
    QCOMPARE(shell.query("select count(*) from 学生"), QStringList({"0"}));
    QVERIFY(!web.page("/index.asp").contains("甲"));
    QCOMPARE(archiveLockFault(), QString());
}

QTEST_MAIN(BackupJourney)
#include "tst_journey_backup.moc"
