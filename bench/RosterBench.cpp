// SPDX-License-Identifier: GPL-3.0-or-later
// A large school's roster: loading it into the main window's list and blanking the row of a
// student just saved, in both workbook formats.
#include "bench/Bench.h"
#include "bench/BenchFolder.h"

#include "app/MainWindow.h"
#include "platform/Shell.h"
#include "platform/widgets/AppContext.h"
#include "platform/widgets/Dialogs.h"
#include "platform/widgets/Navigator.h"

#include <QApplication>
#include <QFile>
#include <QPushButton>
#include <QTableWidget>

namespace {

void rosterRun(MainWindow& window, const QString& folder, const char* format)
{
    const QString fixed = folder + QStringLiteral("/学生名单.") + QString::fromLatin1(format);
    QFile::remove(folder + QStringLiteral("/学生名单.xls"));
    QFile::remove(folder + QStringLiteral("/学生名单.xlsx"));
    if (!QFile::copy(QStringLiteral(QINGHE_BENCH_ROSTERS "/roster-2000.") + QString::fromLatin1(format), fixed))
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
}

} // namespace

BENCH_SCENARIO("roster", rosterScenario);
