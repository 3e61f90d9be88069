// SPDX-License-Identifier: GPL-3.0-or-later
// The record editor with a large school: listing everyone and numbering everyone.
#include "bench/Bench.h"
#include "bench/BenchFolder.h"

#include "archive/DatabaseConnection.h"
#include "archive/Recordset.h"
#include "archive/StudentTable.h"
#include "desktop/Shell.h"
#include "records/RecordEditorWindow.h"
#include "widgets/AppContext.h"
#include "widgets/Dialogs.h"
#include "widgets/Navigator.h"

#include <QApplication>
#include <QPushButton>
#include <QTreeWidget>

namespace {

void editorScenario()
{
    constexpr int students = 5000;
    const BenchFolder folder(students, 30 * 1024);
    DesktopDialogs dialogs;
    DesktopNavigator navigator;
    DesktopShell shell;
    AppContext context(dialogs, navigator, shell);
    context.appFolder = folder.path();
    for (int c = 0; c < 50; ++c)
        context.classList << BenchFolder::className(c);

    RecordEditorWindow window(context);
    window.show();
    QApplication::processEvents();
    auto* list = window.findChild<QTreeWidget*>(QStringLiteral("数据列表框"));
    const auto button = [&](const char* name) {
        return window.findChild<QPushButton*>(QString::fromUtf8(name));
    };

    // Until the list is on screen: the query, the rows and the first paint.
    double start = bench::nowMs();
    button("按钮6")->click();
    list->viewport()->repaint();
    const double listed = bench::nowMs() - start;
    if (list->topLevelItemCount() != students)
        qFatal("全部显示 listed %d students", list->topLevelItemCount());
    bench::report("editor", "list_all_ms", listed, "ms");

    // In mode all, numbering lists everyone again and numbers all of them.
    start = bench::nowMs();
    button("按钮9")->click();
    list->viewport()->repaint();
    const double numbered = bench::nowMs() - start;
    if (!list->topLevelItem(students - 1)->text(2).endsWith(QStringLiteral("5000")))
        qFatal("numbering did not reach the last student");
    bench::report("editor", "numbering_ms", numbered, "ms");

    // Numbering again after one more student joined: only the rows whose number changes
    // are rewritten, photo and all.
    {
        DatabaseConnection connection;
        connection.openDatabaseFile(folder.databaseFile());
        Recordset newcomer;
        newcomer.attach(connection);
        newcomer.open(StudentTable::selectId(-1));
        newcomer.addNew();
        newcomer.writeText(u"姓名", QStringLiteral("插班生"));
        newcomer.writeText(u"班级", BenchFolder::className(0));
        newcomer.writeBytes(u"照片", benchPhoto(30 * 1024, 1));
        newcomer.update();
    }
    start = bench::nowMs();
    button("按钮9")->click();
    const double renumbered = bench::nowMs() - start;
    if (list->topLevelItemCount() != students + 1)
        qFatal("numbering again listed %d students", list->topLevelItemCount());
    bench::report("editor", "renumbering_ms", renumbered, "ms");
}

} // namespace

BENCH_SCENARIO("editor", editorScenario);
