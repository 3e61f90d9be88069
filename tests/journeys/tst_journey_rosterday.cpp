// SPDX-License-Identifier: GPL-3.0-or-later
// Roster day: a class roster written by LibreOffice (data/make-rosters.sh) is loaded with
// 加载excel; in 表格输入 mode each student is picked, photographed and saved, and leaves the
// roster file. Another program reads the file back: the saved students' cells are blank,
// everything else is as LibreOffice wrote it.
#include "records/RecordEditorWindow.h"
#include "tests/journeys/WindowJourney.h"

#include <QCheckBox>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTreeWidget>

namespace {

// Every sheet as another program reads it: "sheet: cell|cell|…" per row.
QStringList readBack(const QString& path)
{
    QProcess reader;
    reader.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral(QINGHE_ROSTER_READER), path});
    if (!reader.waitForFinished(60000) || reader.exitCode() != 0)
        return {QStringLiteral("read-roster.py failed (scripts/install-deps.sh installs python3-xlrd and "
                               "python3-openpyxl): ")
                + QString::fromUtf8(reader.readAllStandardError())};
    const QJsonObject sheets = QJsonDocument::fromJson(reader.readAllStandardOutput()).object();
    QStringList rows;
    for (auto sheet = sheets.begin(); sheet != sheets.end(); ++sheet) {
        for (const QJsonValue row : sheet.value().toArray()) {
            QStringList cells;
            for (const QJsonValue cell : row.toArray())
                cells << cell.toString();
            rows << sheet.key() + QStringLiteral(": ") + cells.join(u'|');
        }
    }
    return rows;
}

QStringList rosterNames(const QTableWidget* roster)
{
    QStringList names;
    for (int row = 0; row < roster->rowCount(); ++row)
        names << roster->item(row, 1)->text();
    return names;
}

} // namespace

class RosterDayJourney : public QObject {
    Q_OBJECT

private slots:
    void savedStudentsLeaveTheRoster_data();
    void savedStudentsLeaveTheRoster();
};

void RosterDayJourney::savedStudentsLeaveTheRoster_data()
{
    QTest::addColumn<QString>("file");
    QTest::newRow(".xls") << "roster.xls";
    QTest::newRow(".xlsx") << "roster.xlsx";
}

void RosterDayJourney::savedStudentsLeaveTheRoster()
{
    QFETCH(QString, file);
    Office office({"七(1)班", "七(2)班"});
    const QString roster = office.folder.path() + "/名单-" + file;
    QVERIFY(QFile::copy(QStringLiteral(QINGHE_TEST_DATA "/") + file, roster));
    QFile::setPermissions(roster, QFile::permissions(roster) | QFile::WriteOwner);
    const QStringList asWritten = readBack(roster);
    QCOMPARE(asWritten,
             QStringList({"Sheet1: 姓名|班级|编号|备注", "Sheet1: 李明|七(1)班|2025070101|住校",
                          "Sheet1: 张红|七(1)班|2025070102", "Sheet1: 刘洋|七(2)班|2025070103|转学",
                          "Sheet1: 陈静|七(1)班|2025070104", "说明: 保存后名单中该行清空。"}));

    office.services.dialogs.pathAnswers.enqueue(roster);
    office.get<QPushButton>("按钮3")->click();
    auto* list = office.get<QTableWidget>("数据列表框");
    QCOMPARE(rosterNames(list), QStringList({"李明", "张红", "刘洋", "陈静"}));
    office.get<QCheckBox>("表")->click();

    // 李明 is first in line; then 张红, whom the window offers next; 刘洋 is away today.
    const auto pick = [&](const QString& name) {
        const int row = int(rosterNames(list).indexOf(name));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          list->visualItemRect(list->item(row, 1)).center());
        QCOMPARE(office.get<QLineEdit>("编辑框1")->text(), name);
    };
    pick("李明");
    office.photograph();
    QCOMPARE(office.save(), QString("保存成功"));
    QCOMPARE(office.get<QLineEdit>("编辑框1")->text(), QString("张红"));
    office.photograph();
    QCOMPARE(office.save(), QString("保存成功"));
    pick("陈静");
    office.photograph();
    QCOMPARE(office.save(), QString("保存成功"));
    QCOMPARE(rosterNames(list), QStringList({"刘洋"}));

    QCOMPARE(readBack(roster), QStringList({"Sheet1: 姓名|班级|编号|备注", "Sheet1: |||住校",
                                            "Sheet1: ", "Sheet1: 刘洋|七(2)班|2025070103|转学",
                                            "说明: 保存后名单中该行清空。"}));
    QCOMPARE(shellRows(office.folder.databaseFile(), "select 姓名 || ' ' || 班级 || ' ' || 编号 from 学生"),
             QStringList({"李明 七(1)班 2025070101", "张红 七(1)班 2025070102", "陈静 七(1)班 2025070104"}));

    // Loaded again, the roster offers only who is left; the class lists in the order of the day.
    office.services.dialogs.pathAnswers.enqueue(roster);
    office.get<QPushButton>("按钮3")->click();
    QCOMPARE(rosterNames(list), QStringList({"刘洋"}));
    auto* editor = office.open<RecordEditorWindow>(*office.main, "按钮7");
    QCOMPARE(listColumn(control<QTreeWidget>(*editor, "数据列表框"), 1),
             QStringList({"李明", "张红", "陈静"}));
    QCOMPARE(archiveLockFault(), QString());
}

QTEST_MAIN(RosterDayJourney)
#include "tst_journey_rosterday.moc"
