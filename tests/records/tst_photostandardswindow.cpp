// SPDX-License-Identifier: GPL-3.0-or-later
// The window 照片规格 driven through its named controls: a class exported with the unfit photo
// listed first, a standard edited, and a photographer's folder shown before it is stored.
#include "archive/DatabaseConnection.h"
#include "archive/Recordset.h"
#include "archive/StudentTable.h"
#include "records/PhotoFraming.h"
#include "records/PhotoStandard.h"
#include "records/PhotoStandardsWindow.h"
#include "tests/support/Controls.h"
#include "tests/support/FacePicture.h"
#include "tests/support/TestFolder.h"
#include "tests/support/TestServices.h"

#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

namespace {

QStringList rows(const QWidget& window)
{
    QStringList lines;
    const QTreeWidget* list = control<QTreeWidget>(window, "结果列表");
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* row = list->topLevelItem(i);
        lines << QStringLiteral("%1|%2|%3|%4")
                     .arg(row->text(0), row->text(1), row->text(2).section(u'：', 0, 0),
                          row->icon(0).isNull() ? QStringLiteral("-") : QStringLiteral("photo"));
    }
    return lines;
}

QImage portrait() { return FacePicture::portrait(QSize(960, 1280), 300, QPointF(480, 560)); }

} // namespace

class PhotoStandardsWindowTest : public QObject {
    Q_OBJECT

private slots:
    void exportListsTheUnfitFirst();
    void standardEditedAndSaved();
    void folderShownBeforeStored();
};

void PhotoStandardsWindowTest::exportListsTheUnfitFirst()
{
    TestFolder folder;
    TestServices services;
    services.context.appFolder = folder.path();
    services.context.classList = {"七(1)班", "七(2)班"};
    const QByteArray good =
        PhotoFraming::jpeg(PhotoFraming::forArchive(PhotoFraming::threadFinder(), portrait()), 90);
    folder.addStudents({{"张三", "七(1)班", "2024001", good},
                        {"李四", "七(1)班", "2024002", fileBytes(FacePicture::file("coffee.png"))},
                        {"王五", "七(2)班", "2024003", good}});
    PhotoStandardsWindow window(services.context);
    QCOMPARE(comboItems(control<QComboBox>(window, "规格框")), QStringList({"学籍", "毕业", "一寸", "二寸"}));
    QCOMPARE(control<QComboBox>(window, "规格框")->currentText(), QString("毕业"));
    QCOMPARE(QDir::cleanPath(control<QLineEdit>(window, "文件夹编辑框")->text()),
             folder.path() + "/照片/毕业");
    control<QComboBox>(window, "规格框")->setCurrentText("学籍");
    const QString target = folder.path() + "/照片/学籍";
    QCOMPARE(QDir::cleanPath(control<QLineEdit>(window, "文件夹编辑框")->text()), target);

    control<QPushButton>(window, "导出按钮")->click();
    QCOMPARE(rows(window),
             QStringList({"李四（2024002）||没有写出|photo", "张三（2024001）|2024001.jpg|已写出|photo"}));
    QVERIFY(control<QTreeWidget>(window, "结果列表")->topLevelItem(0)->text(2).contains("没有找到人脸"));
    QCOMPARE(QDir(target).entryList(QDir::Files), QStringList({"2024001.jpg"}));
    QVERIFY2(control<QLabel>(window, "状态标签")->text().contains("1 名学生没有写出"),
             qPrintable(control<QLabel>(window, "状态标签")->text()));
    QVERIFY(services.dialogs.shown.isEmpty());
}

void PhotoStandardsWindowTest::standardEditedAndSaved()
{
    TestFolder folder;
    TestServices services;
    services.context.appFolder = folder.path();
    PhotoStandardsWindow window(services.context);
    auto* text = control<QLineEdit>(window, "规格编辑框");
    QCOMPARE(text->text(), QString("480×640 300dpi 20-40KB 头顶50-110 眼睛200-300 脸宽180-300"));
    text->setText("480×640 300dpi 20-40KB 头顶50-110");
    control<QPushButton>(window, "保存规格按钮")->click();
    QVERIFY(services.dialogs.last().text.startsWith("保存失败：")); // nothing stored
    QCOMPARE(PhotoStandards::find(folder.settingsFile(), "毕业", nullptr)->bands.eyes.low, 200.0);
    text->setText("480×640 300dpi 25-45KB 头顶60-100 眼睛210-290 脸宽190-290");
    control<QPushButton>(window, "保存规格按钮")->click();
    QCOMPARE(PhotoStandards::find(folder.settingsFile(), "毕业", nullptr)->largestKB, 45);
    QCOMPARE(PhotoStandardsWindow(services.context).findChild<QLineEdit*>("规格编辑框")->text(),
             QString("480×640 300dpi 25-45KB 头顶60-100 眼睛210-290 脸宽190-290"));
}

void PhotoStandardsWindowTest::folderShownBeforeStored()
{
    TestFolder folder;
    TestServices services;
    services.context.appFolder = folder.path();
    services.context.classList = {"七(1)班"};
    const QList<int> ids =
        folder.addStudents({{"张三", "七(1)班", "2024001", {}}, {"李四", "七(1)班", "2024002", {}}});
    const QString dir = folder.path() + "/摄影师";
    QDir().mkpath(dir);
    writeTestFile(dir + "/2024001.jpg", PhotoFraming::jpeg(portrait(), 90));
    writeTestFile(dir + "/陌生人.jpg", PhotoFraming::jpeg(portrait(), 90));
    PhotoStandardsWindow window(services.context);
    services.dialogs.pathAnswers.enqueue(dir);
    control<QPushButton>(window, "载入按钮")->click();
    QCOMPARE(rows(window), QStringList({"张三（2024001）|2024001.jpg|将存入|photo",
                                        "|陌生人.jpg|没有对应的学生|-", "李四（2024002）||还没有照片|-"}));
    QCOMPARE(folder.storedColumn(u"姓名").size(), 2);
    auto* store = control<QPushButton>(window, "存入按钮");
    QVERIFY(store->isEnabled());
    Recordset records;
    DatabaseConnection database;
    QVERIFY(StudentTable::openArchive(database, folder.databaseFile()));
    records.attach(database);
    QVERIFY(records.open(StudentTable::selectId(ids[0])));
    QVERIFY(records.fieldIsEmpty(u"照片")); // shown, not yet stored

    store->click();
    QCOMPARE(services.dialogs.last().text, QString("已存入 1 张照片"));
    QVERIFY(!store->isEnabled());
    QVERIFY(records.open(StudentTable::selectId(ids[0])));
    QCOMPARE(QImage::fromData(records.readBytes(u"照片")).size(), PhotoFraming::archivePhotoSize);
}

QTEST_MAIN(PhotoStandardsWindowTest)
#include "tst_photostandardswindow.moc"
