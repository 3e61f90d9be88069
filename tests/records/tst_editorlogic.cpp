// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/DatabaseConnection.h"
#include "platform/Gbk.h"
#include "platform/Recordset.h"
#include "platform/StudentTable.h"
#include "records/Numbering.h"
#include "records/PhotoExport.h"
#include "records/StudentList.h"
#include "records/StudentRecord.h"
#include "tests/support/TestFolder.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class EditorLogicTest : public QObject {
    Q_OBJECT

private slots:
    void numberPartFillsLikePrintf_data();
    void numberPartFillsLikePrintf();
    void studentNumbersWrittenInQueryOrder();
    void photoFileNamesStayInTheFolder_data();
    void photoFileNamesStayInTheFolder();
    void exportWritesPhotosUnchanged();
    void exportIntoUnwritableFolderFails();
    void remarksKeepTheirLines_data();
    void remarksKeepTheirLines();
    void rowsWithoutPhotoLeaveOthersOut();
};

void EditorLogicTest::numberPartFillsLikePrintf_data()
{
    QTest::addColumn<int>("i");
    QTest::addColumn<QString>("digits");
    QTest::addColumn<QString>("expected");
    QTest::newRow("3 digits") << 1 << "3" << "001";
    QTest::newRow("3 digits, 12th") << 12 << "3" << "012";
    QTest::newRow("3 digits, 1000th is not cut") << 1000 << "3" << "1000";
    QTest::newRow("1 digit") << 7 << "1" << "7";
    QTest::newRow("10 digits") << 42 << "10" << "0000000042";
    QTest::newRow("leading zero in the count") << 5 << "03" << "005";
    QTest::newRow("empty count") << 5 << "" << "5";
    QTest::newRow("zero") << 5 << "0" << "5";
    // Counts that are no plain decimal number give the plain number, never a format read.
    QTest::newRow("negative") << 5 << "-3" << "5";
    QTest::newRow("blank before") << 5 << " 3" << "5";
    QTest::newRow("letters") << 5 << "3x" << "5";
    QTest::newRow("conversion inside") << 5 << "%s%s" << "5";
    QTest::newRow("full-width digit") << 5 << "３" << "5";
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
    folder.addStudents({{"甲", "一班", "x", {}}, {"乙", "二班", "y", {}}, {"丙", "一班", "z", {}}, {"丁", "一班", "w", {}}});
    DatabaseConnection connection;
    QVERIFY(connection.openDatabaseFile(folder.databaseFile()));
    Recordset records;
    records.attach(connection);

    // A list shorter than the class (a record was added meanwhile) numbers only its length.
    QString error;
    QVERIFY(writeStudentNumbers(connection, records, StudentTable::selectClass(u"一班"), {"2014001", "2014002"},
                                &error));
    QCOMPARE(records.readText(u"姓名"), QString("甲")); // left on the first record

    Recordset check;
    check.attach(connection);
    check.open(StudentTable::selectAll);
    QStringList numbers;
    for (int i = 0; i < check.recordCount(); ++i, check.moveNext())
        numbers << check.readText(u"编号");
    QCOMPARE(numbers, QStringList({"2014001", "y", "2014002", "w"}));

    // A failed run stores nothing and says why.
    connection.close();
    QVERIFY(!writeStudentNumbers(connection, records, StudentTable::selectClass(u"一班"), {"1", "2", "3"}, &error));
    QVERIFY(!error.isEmpty());
}

void EditorLogicTest::photoFileNamesStayInTheFolder_data()
{
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("number");
    QTest::addColumn<QString>("expected");
    QTest::newRow("plain") << "七(1)班" << "张三" << "2014001" << "七(1)班张三2014001.jpg";
    QTest::newRow("empty number") << "七(1)班" << "张三" << "" << "七(1)班张三.jpg";
    QTest::newRow("slash") << "../../etc" << "a/b" << "1" << ".._.._etca_b1.jpg";
    QTest::newRow("windows refuses") << "班:1" << "张*三?" << "<1>|\"\\" << "班_1张_三__1____.jpg";
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

void EditorLogicTest::exportWritesPhotosUnchanged()
{
    TestFolder folder;
    const QByteArray first = jpegBytes(30, 40, Qt::red);
    const QByteArray second = jpegBytes(30, 40, Qt::blue);
    const QByteArray slashed = jpegBytes(20, 20, Qt::green);
    const QList<int> ids = folder.addStudents({{"张三", "一班", "1", first},
                                               {"李四", "一班", "2", {}},
                                               {"张三", "一班", "1", second},
                                               {"A/B", "一班", "3", slashed}});
    DatabaseConnection connection;
    QVERIFY(connection.openDatabaseFile(folder.databaseFile()));
    const QString target = folder.path() + "/导出/新文件夹";

    const PhotoExportResult result = exportPhotos(connection, ids, target);
    QVERIFY(result.succeeded());
    QCOMPARE(result.written, 3);
    QCOMPARE(result.withoutPhoto, 1);
    const QDir dir(target);
    QCOMPARE(dir.entryList(QDir::Files, QDir::Name), QStringList({"一班A_B3.jpg", "一班张三1.jpg"}));
    const auto contents = [&](const QString& name) {
        QFile file(dir.filePath(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    QCOMPARE(contents("一班张三1.jpg"), second); // the later row replaces the earlier one
    QCOMPARE(contents("一班A_B3.jpg"), slashed);
    QVERIFY(!QFile::exists(folder.path() + "/导出/新文件夹/一班A"));
}

void EditorLogicTest::exportIntoUnwritableFolderFails()
{
    TestFolder folder;
    const QList<int> ids = folder.addStudents({{"张三", "一班", "1", jpegBytes(8, 8)}});
    DatabaseConnection connection;
    QVERIFY(connection.openDatabaseFile(folder.databaseFile()));

    QFile blocker(folder.path() + "/文件");
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const PhotoExportResult underFile = exportPhotos(connection, ids, blocker.fileName() + "/照片");
    QVERIFY(!underFile.succeeded());
    QVERIFY(!underFile.folderError.isEmpty());
    QCOMPARE(underFile.written, 0);

    // A folder of the right name in the way of the file.
    const QString target = folder.path() + "/照片";
    QVERIFY(QDir(target).mkpath("一班张三1.jpg"));
    const PhotoExportResult blocked = exportPhotos(connection, ids, target);
    QVERIFY(!blocked.succeeded());
    QCOMPARE(blocked.failedFiles, QStringList({"一班张三1.jpg"}));
    QVERIFY(!blocked.firstFailure.isEmpty());
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
    QTest::newRow("blank lines kept") << gbk::encode(u"a\r\n\r\nb\r\n") << "a\n\nb\n" << gbk::encode(u"a\r\n\r\nb\r\n");
}

void EditorLogicTest::remarksKeepTheirLines()
{
    QFETCH(QByteArray, stored);
    QFETCH(QString, shown);
    QFETCH(QByteArray, saved);
    QCOMPARE(remarksText(stored), shown);
    QCOMPARE(remarksBytes(shown), saved);
}

void EditorLogicTest::rowsWithoutPhotoLeaveOthersOut()
{
    TestFolder folder;
    const QList<int> ids = folder.addStudents(
        {{"甲", "一班", "1", jpegBytes(8, 8)}, {"乙", "一班", "2", {}}, {"丙", "一班", "3", {}}});
    DatabaseConnection connection;
    QVERIFY(connection.openDatabaseFile(folder.databaseFile()));
    Recordset records;
    records.attach(connection);
    records.open(StudentTable::selectClass(u"一班"));

    const QList<StudentListRow> expected{{ids[1], "一班", "乙", "2", false}, {ids[2], "一班", "丙", "3", false}};
    QCOMPARE(readStudentRows(records, StudentRows::WithoutPhoto), expected);
    QCOMPARE(readStudentRows(records).size(), 3);
    QCOMPARE(readStudentRows(records).first().hasPhoto, true);
    QCOMPARE(readStudentRecord(records).姓名, QString("甲")); // back on the first record
}

QTEST_MAIN(EditorLogicTest)
#include "tst_editorlogic.moc"
