// SPDX-License-Identifier: GPL-3.0-or-later
// On a computer whose locale is C.UTF-8 (no Chinese locale), Qt's own controls and dialogs
// still speak Simplified Chinese, as the program's own texts do.
#include "app/Language.h"
#include "widgets/Dialogs.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QDate>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QPushButton>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

class LanguageTest : public QObject {
    Q_OBJECT

private slots:
    void standardButtons_data();
    void standardButtons();
    void datesAreChinese();
    void fileDialogIsChinese();
};

void LanguageTest::standardButtons_data()
{
    QTest::addColumn<QDialogButtonBox::StandardButton>("button");
    QTest::addColumn<QString>("text");
    QTest::newRow("OK") << QDialogButtonBox::Ok << "确定";
    QTest::newRow("Cancel") << QDialogButtonBox::Cancel << "取消";
    QTest::newRow("Save") << QDialogButtonBox::Save << "保存";
}

void LanguageTest::standardButtons()
{
    QFETCH(QDialogButtonBox::StandardButton, button);
    QFETCH(QString, text);
    const QDialogButtonBox box{QDialogButtonBox::StandardButtons(button)};
    QCOMPARE(box.button(button)->text(), text);
}

void LanguageTest::datesAreChinese()
{
    QCOMPARE(QLocale().toString(QDate(2026, 3, 1), QLocale::LongFormat), QString("2026年3月1日星期日"));
}

void LanguageTest::fileDialogIsChinese()
{
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir("照片"));
    QString fileName, kind, modified;
    // The dialog runs modally; it is read, then closed, from the event loop it runs.
    QTimer::singleShot(0, this, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        const auto close = qScopeGuard([dialog] { dialog->reject(); });
        fileName = dialog->findChild<QLabel*>("fileNameLabel")->text();
        const auto* view = dialog->findChild<QAbstractItemView*>("treeView");
        QTRY_VERIFY(view->model()->rowCount(view->rootIndex()) == 1);
        const QModelIndex folder = view->model()->index(0, 0, view->rootIndex());
        kind = folder.siblingAtColumn(2).data().toString();
        modified = folder.siblingAtColumn(3).data().toString();
    });
    DesktopDialogs dialogs;
    QVERIFY(dialogs.openFile(nullptr, "加载excel", "EXCEL|*.xls", dir.path()).isEmpty());
    QCOMPARE(fileName, QString("文件名称(&N)："));
    QCOMPARE(kind, QString("文件夹"));
    const QString today = QLocale().toString(QDate::currentDate(), QLocale::ShortFormat);
    QVERIFY2(modified.startsWith(today), qPrintable(modified + " / " + today));
}

int main(int argc, char* argv[])
{
    for (const char* name : {"LANG", "LC_ALL", "LC_MESSAGES", "LC_TIME"})
        qputenv(name, "C.UTF-8");
    qunsetenv("LANGUAGE");
    QApplication app(argc, argv);
    useSimplifiedChinese(app);
    LanguageTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_language.moc"
