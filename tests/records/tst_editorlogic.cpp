// SPDX-License-Identifier: GPL-3.0-or-later
#include "archive/DatabaseConnection.h"
#include "archive/Recordset.h"
#include "archive/StudentTable.h"
#include "formats/Gbk.h"
#include "records/Numbering.h"
#include "records/PhotoExport.h"
#include "records/StudentRecord.h"
#include "tests/support/TestFolder.h"

#include <QTest>

class EditorLogicTest : public QObject {
    Q_OBJECT

private slots:
    void numberPartFillsLikePrintf_data();
    void numberPartFillsLikePrintf();
    void studentNumbersWrittenInQueryOrder();
    void photoFileNamesStayInTheFolder_data();
    void photoFileNamesStayInTheFolder();
    void remarksKeepTheirLines_data();
    void remarksKeepTheirLines();
};

void EditorLogicTest::numberPartFillsLikePrintf_data()
{
    QTest::addColumn<int>("i");
    QTest::addColumn<QString>("digits");
    QTest::addColumn<QString>("expected");
    QTest::newRow("3 digits") << 1 << "3"
                              << "001";
    QTest::newRow("3 digits, 12th") << 12 << "3"
                                    << "012";
    QTest::newRow("3 digits, 1000th is not cut") << 1000 << "3"
                                                 << "1000";
    QTest::newRow("1 digit") << 7 << "1"
                             << "7";
    QTest::newRow("10 digits") << 42 << "10"
                               << "0000000042";
    QTest::newRow("leading zero in the count") << 5 << "03"
                                               << "005";
    QTest::newRow("empty count") << 5 << ""
                                 << "5";
    QTest::newRow("zero") << 5 << "0"
                          << "5";
    // Counts that are no plain decimal number give the plain number, never a format read.
    QTest::newRow("negative") << 5 << "-3"
                              << "5";
    QTest::newRow("blank before") << 5 << " 3"
                                  << "5";
    QTest::newRow("letters") << 5 << "3x"
                             << "5";
    QTest::newRow("conversion inside") << 5 << "%s%s"
                                       << "5";
    QTest::newRow("full-width digit") << 5 << "３"
                                      << "5";
    QTest::newRow("absurdly wide") << 5 << "99999999999999999999" << QString(254, '0') + "5";
}

void EditorLogicTest::numberPartFillsLikePrintf()
{
    QFETCH(int, i);
    QFETCH(QString, digits);
    QFETCH(QString, expected);
    QCOMPARE(numberPart(i, digits), expected);
    QCOMPARE(studentNumber(u"2014", digits, i), "2014" + expected);
}

void EditorLogicTest::studentNumbersWrittenInQueryOrder()
{
    TestFolder folder;
    folder.addStudents(
        {{"甲", "一班", "x", {}}, {"乙", "二班", "y", {}}, {"丙", "一班", "z", {}}, {"丁", "一班", "w", {}}});
    DatabaseConnection connection;
    QVERIFY(connection.openDatabaseFile(folder.databaseFile()));
    Recordset records;
    records.attach(connection);

    // A list shorter than the class (a record was added meanwhile) numbers only its length.
    QString error;
    QVERIFY(writeStudentNumbers(connection, records, StudentTable::selectClass(u"一班"),
                                {"2014001", "2014002"}, &error));
    QCOMPARE(records.readText(u"姓名"), QString("甲")); // left on the first record

    QCOMPARE(folder.storedColumn(u"编号"), QStringList({"2014001", "y", "2014002", "w"}));

    // A failed run stores nothing and says why.
    connection.close();
    QVERIFY(!writeStudentNumbers(connection, records, StudentTable::selectClass(u"一班"), {"1", "2", "3"},
                                 &error));
    QVERIFY(!error.isEmpty());
}

void EditorLogicTest::photoFileNamesStayInTheFolder_data()
{
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("number");
    QTest::addColumn<QString>("expected");
    QTest::newRow("plain") << "七(1)班"
                           << "张三"
                           << "2014001"
                           << "七(1)班张三2014001.jpg";
    QTest::newRow("empty number") << "七(1)班"
                                  << "张三"
                                  << ""
                                  << "七(1)班张三.jpg";
    QTest::newRow("slash") << "../../etc"
                           << "a/b"
                           << "1"
                           << ".._.._etca_b1.jpg";
    QTest::newRow("windows refuses") << "班:1"
                                     << "张*三?"
                                     << "<1>|\"\\"
                                     << "班_1张_三__1____.jpg";
    QTest::newRow("control character") << "班" << QString("张\n三") << QString(QChar(0)) << "班张_三_.jpg";
}

void EditorLogicTest::photoFileNamesStayInTheFolder()
{
    QFETCH(QString, className);
    QFETCH(QString, name);
    QFETCH(QString, number);
    QFETCH(QString, expected);
    QCOMPARE(photoFileName(className, name, number), expected);
}

void EditorLogicTest::remarksKeepTheirLines_data()
{
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QByteArray>("saved");
    const QByteArray twoLines = gbk::encode(u"第一行\r\n第二行");
    QTest::newRow("windows lines") << twoLines << "第一行\n第二行" << twoLines;
    QTest::newRow("unix lines") << gbk::encode(u"第一行\n第二行") << "第一行\n第二行" << twoLines;
    QTest::newRow("empty") << QByteArray() << "" << QByteArray();
    QTest::newRow("blank lines kept") << gbk::encode(u"a\r\n\r\nb\r\n") << "a\n\nb\n"
                                      << gbk::encode(u"a\r\n\r\nb\r\n");
}

void EditorLogicTest::remarksKeepTheirLines()
{
    QFETCH(QByteArray, stored);
    QFETCH(QString, shown);
    QFETCH(QByteArray, saved);
    QCOMPARE(remarksText(stored), shown);
    QCOMPARE(remarksBytes(shown), saved);
}

QTEST_MAIN(EditorLogicTest)
#include "tst_editorlogic.moc"
