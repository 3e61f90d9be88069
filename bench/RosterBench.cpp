// SPDX-License-Identifier: GPL-3.0-or-later
// A large school's roster: loading it into the main window's list and blanking the row of a
// student just saved, in both workbook formats.
#include "bench/Bench.h"
#include "bench/BenchFolder.h"

#include "app/MainWindow.h"
#include "desktop/Shell.h"
#include "formats/workbook/NewWorkbook.h"
#include "widgets/AppContext.h"
#include "widgets/Dialogs.h"
#include "widgets/Navigator.h"

#include <QApplication>
#include <QFile>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>

#include <functional>

namespace {

void rosterRun(MainWindow& window, const QString& folder, const char* format)
{
    const QString fixed = folder + QStringLiteral("/学生名单.") + QString::fromLatin1(format);
    QFile::remove(folder + QStringLiteral("/学生名单.xls"));
    QFile::remove(folder + QStringLiteral("/学生名单.xlsx"));
    if (!QFile::copy(QStringLiteral(QINGHE_BENCH_ROSTERS "/roster-2000.") + QString::fromLatin1(format),
                     fixed))
        qFatal("cannot copy the 2,000-row roster");
    auto* list = window.findChild<QTableWidget*>(QStringLiteral("数据列表框"));

    // Until the list is on screen: reading the workbook, the query, the rows and a paint.
    double start = bench::nowMs();
    window.findChild<QPushButton*>(QStringLiteral("按钮6"))->click();
    list->viewport()->repaint();
    const double loaded = bench::nowMs() - start;
    if (list->rowCount() != 2001)
        qFatal("the roster listed %d students", list->rowCount());

    // A student in the middle of the sheet, so the rewrite moves everything after the row.
    const QString name = list->item(1000, 1)->text();
    start = bench::nowMs();
    QString error;
    if (!window.markRosterRowDone(list->item(1000, 0)->text(), name, list->item(1000, 2)->text(), &error))
        qFatal("blanking %s failed: %s", qPrintable(name), qPrintable(error));
    const double marked = bench::nowMs() - start;

    bench::report("roster", (std::string("load_") + format + "_ms").c_str(), loaded, "ms");
    bench::report("roster", (std::string("mark_") + format + "_ms").c_str(), marked, "ms");
}

// The longest the window's thread went without handling its events while `work` ran.
double longestBlockMs(const std::function<void()>& work)
{
    double last = bench::nowMs();
    double longest = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const double now = bench::nowMs();
        longest = std::max(longest, now - last);
        last = now;
    });
    tick.start(5);
    work();
    longest = std::max(longest, bench::nowMs() - last);
    return longest;
}

// A whole district's roster: 100,000 students in one .xlsx, listed, then one of them marked.
void largeRosterRun(MainWindow& window, const QString& folder)
{
    constexpr int students = 100'000;
    NewWorkbook book;
    book.setCell(0, 0, QStringLiteral("姓名"));
    book.setCell(0, 1, QStringLiteral("班级"));
    book.setCell(0, 2, QStringLiteral("编号"));
    for (int i = 1; i <= students; ++i) {
        book.setCell(i, 0, QStringLiteral("学生%1").arg(i));
        book.setCell(i, 1, QStringLiteral("%1班").arg(i % 300));
        book.setCell(i, 2, QString::number(2024000000 + i));
    }
    QFile::remove(folder + QStringLiteral("/学生名单.xls"));
    QFile::remove(folder + QStringLiteral("/学生名单.xlsx"));
    QString error;
    if (!book.writeTemplate(folder + QStringLiteral("/学生名单.xlsx"), &error))
        qFatal("cannot write the 100,000-row roster: %s", qPrintable(error));
    auto* list = window.findChild<QTableWidget*>(QStringLiteral("数据列表框"));

    double start = bench::nowMs();
    window.findChild<QPushButton*>(QStringLiteral("按钮6"))->click();
    list->viewport()->repaint();
    const double loaded = bench::nowMs() - start;
    if (list->rowCount() != students)
        qFatal("the large roster listed %d students", list->rowCount());

    const int row = students / 2;
    const QString name = list->item(row, 1)->text();
    bool marked = false;
    start = bench::nowMs();
    const double blocked = longestBlockMs([&] {
        marked =
            window.markRosterRowDone(list->item(row, 0)->text(), name, list->item(row, 2)->text(), &error);
    });
    const double markMs = bench::nowMs() - start;
    if (!marked)
        qFatal("blanking %s failed: %s", qPrintable(name), qPrintable(error));

    bench::report("roster", "load_100k_ms", loaded, "ms");
    bench::report("roster", "mark_100k_ms", markMs, "ms");
    bench::report("roster", "ui_block_ms", blocked, "ms");
}

void rosterScenario()
{
    const BenchFolder folder(0, 0, 3);
    if (qEnvironmentVariableIsEmpty("QINGHE_CAMERA_IMAGE"))
        qputenv("QINGHE_CAMERA_IMAGE", QINGHE_BENCH_CAMERA_IMAGE); // no camera switched on for this
    qputenv("QINGHE_FOLDER", folder.path().toUtf8());
    DesktopDialogs dialogs;
    DesktopNavigator navigator;
    DesktopShell shell;
    AppContext context(dialogs, navigator, shell);
    MainWindow window(context);
    window.show();
    QApplication::processEvents();
    rosterRun(window, folder.path(), "xls");
    rosterRun(window, folder.path(), "xlsx");
    largeRosterRun(window, folder.path());
}

} // namespace

BENCH_SCENARIO("roster", rosterScenario);
