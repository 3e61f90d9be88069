// SPDX-License-Identifier: GPL-3.0-or-later
// Picture day: three students of a class photographed and saved at the main window, corrected
// and numbered in the record editor, their cards printed by `qinghe cards --pdf`. Every list
// on the way is in the order they came to the camera.
#include "records/RecordEditorWindow.h"
#include "tests/journeys/WindowJourney.h"

#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

namespace {

// The words of a PDF with the top left corner of each, read back by poppler's pdftotext.
struct Word {
    QString text;
    QPointF at;
};

QList<Word> pdfWords(const QString& pdf)
{
    QProcess reader;
    reader.start(QStringLiteral("pdftotext"), {"-bbox", pdf, "-"});
    reader.waitForFinished(30000);
    static const QRegularExpression word(
        QStringLiteral("<word xMin=\"([\\d.]+)\" yMin=\"([\\d.]+)\"[^>]*>([^<]*)</word>"));
    QList<Word> words;
    for (auto it = word.globalMatch(QString::fromUtf8(reader.readAllStandardOutput())); it.hasNext();) {
        const auto m = it.next();
        words.append({m.captured(3), QPointF(m.captured(1).toDouble(), m.captured(2).toDouble())});
    }
    return words;
}

// The cards of a sheet as "name number", in the order a person reads the sheet: row by row,
// left to right. A card's number is the one below its name and nearest to it.
QStringList cardsOnSheet(const QList<Word>& words, const QStringList& names)
{
    QList<Word> found;
    for (const Word& w : words) {
        if (names.contains(w.text))
            found << w;
    }
    std::sort(found.begin(), found.end(), [](const Word& a, const Word& b) {
        return qAbs(a.at.y() - b.at.y()) > 20 ? a.at.y() < b.at.y() : a.at.x() < b.at.x();
    });
    QStringList cards;
    for (const Word& name : found) {
        QString number;
        double nearest = 1e9;
        for (const Word& w : words) {
            const double distance = QLineF(name.at, w.at).length();
            if (w.text.startsWith(u"2025") && w.at.y() > name.at.y() && distance < nearest) {
                nearest = distance;
                number = w.text;
            }
        }
        cards << name.text + u' ' + number;
    }
    return cards;
}

} // namespace

class PictureDayJourney : public QObject {
    Q_OBJECT

private slots:
    void photographedNumberedAndPrintedInEntryOrder();
};

void PictureDayJourney::photographedNumberedAndPrintedInEntryOrder()
{
    Office office({"七(1)班", "七(2)班"});
    office.folder.addStudents({{"早到", "七(2)班", "X-1", {}}});
    const QStringList names{"王一", "王二", "王三"};
    for (const QString& name : names) {
        office.photograph();
        office.enter(name, "七(1)班");
        QCOMPARE(office.save(), QString("保存成功"));
    }
    const QStringList photos =
        shellRows(office.folder.databaseFile(), "select length(照片) > 10000 from 学生");
    QCOMPARE(photos, QStringList({"0", "1", "1", "1"}));

    auto* editor = office.open<RecordEditorWindow>(*office.main, "按钮7");
    QVERIFY(editor);
    auto* list = control<QTreeWidget>(*editor, "数据列表框");
    QCOMPARE(control<QLabel>(*editor, "标签1")->text(), QString("七(1)班数据"));
    QCOMPARE(listColumn(list, 1), names);

    // 王一 is a girl and lives on 西街: corrected, she stays first.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualItemRect(list->topLevelItem(0)).center());
    control<QComboBox>(*editor, "组合框3")->setCurrentText("女");
    typeText(control<QLineEdit>(*editor, "编辑框8"), "西街");
    control<QPushButton>(*editor, "按钮4")->click();
    QCOMPARE(office.services.dialogs.last().text, QString("更改成功!"));
    control<QPushButton>(*editor, "按钮5")->click();
    QCOMPARE(listColumn(list, 1), names);

    // A look at the whole school, the window closed and opened again: it names 七(1)班, and
    // that is what 开始编号 numbers.
    control<QPushButton>(*editor, "按钮6")->click();
    QCOMPARE(listColumn(list, 1), QStringList({"早到", "王一", "王二", "王三"}));
    Office::close(editor);
    editor = office.open<RecordEditorWindow>(*office.main, "按钮7");
    list = control<QTreeWidget>(*editor, "数据列表框");
    QCOMPARE(control<QLabel>(*editor, "标签1")->text(), QString("七(1)班数据"));
    auto* prefix = control<QLineEdit>(*editor, "编辑框2");
    prefix->clear();
    typeText(prefix, "2025");
    control<QPushButton>(*editor, "按钮9")->click();
    QCOMPARE(listColumn(list, 1), names);
    QCOMPARE(listColumn(list, 2), QStringList({"2025001", "2025002", "2025003"}));
    QCOMPARE(shellRows(office.folder.databaseFile(), "select 姓名 || ' ' || 编号 from 学生"),
             QStringList({"早到 X-1", "王一 2025001", "王二 2025002", "王三 2025003"}));

    // The class's cards from the command line, while the windows still have the archive open.
    const QString pdf = office.folder.path() + "/七1班.pdf";
    QProcess cards;
    cards.start(QStringLiteral(QINGHE_EXECUTABLE), {"cards", "--class", "七(1)班", "--pdf", pdf});
    QVERIFY(cards.waitForFinished(60000));
    QVERIFY2(cards.exitCode() == 0, cards.readAllStandardError().constData());
    QCOMPARE(cardsOnSheet(pdfWords(pdf), names + QStringList{"早到"}),
             QStringList({"王一 2025001", "王二 2025002", "王三 2025003"}));
    QCOMPARE(archiveLockFault(), QString());
}

QTEST_MAIN(PictureDayJourney)
#include "tst_journey_pictureday.moc"
