// SPDX-License-Identifier: GPL-3.0-or-later
// The capture station with a large school: starting up, and saving one student with a photo,
// which is committed and synced to disk before "保存成功".
#include "bench/Bench.h"
#include "bench/BenchFolder.h"

#include "app/MainWindow.h"
#include "app/StartupCheck.h"
#include "archive/DatabaseConnection.h"
#include "archive/Recordset.h"
#include "archive/StudentTable.h"
#include "desktop/Shell.h"
#include "records/RecordEntry.h"
#include "widgets/AppContext.h"
#include "widgets/Dialogs.h"
#include "widgets/Navigator.h"

#include <QApplication>
#include <QEventLoop>
#include <QFile>
#include <QTimer>

#include <algorithm>
#include <vector>

namespace {

void startupFigures(const BenchFolder& folder)
{
    // A still picture stands in for the camera, whose start is the driver's business.
    const QString still = folder.path() + QStringLiteral("/camera.jpg");
    QFile::copy(QStringLiteral(":/images/placeholder.jpg"), still);
    qputenv("QINGHE_CAMERA_IMAGE", still.toUtf8());
    qputenv("QINGHE_FOLDER", folder.path().toUtf8());
    DesktopDialogs dialogs;
    DesktopNavigator navigator;
    DesktopShell shell;
    AppContext context(dialogs, navigator, shell);

    const double start = bench::nowMs();
    MainWindow window(context);
    // Listened to before any event is handled: the check says it is done from the event loop,
    // and on a fast disk the first events of the window already carry its end.
    auto* check = window.findChild<StartupCheck*>();
    if (!check)
        qFatal("entry: the main window started no check of the archive");
    bool checked = false;
    double checkedAt = 0;
    QEventLoop wait;
    QObject::connect(check, &StartupCheck::finished, &wait, [&] {
        checked = true;
        checkedAt = bench::nowMs();
        wait.quit();
    });
    window.show();
    QApplication::processEvents();
    window.repaint();
    bench::report("entry", "startup_ms", bench::nowMs() - start, "ms");

    // The look at every page of the archive goes on while the window is in use.
    if (!checked) {
        QTimer::singleShot(120000, &wait, &QEventLoop::quit);
        wait.exec();
    }
    if (!checked)
        qFatal("entry: the check of the archive did not end within two minutes");
    bench::report("entry", "check_ms", checkedAt - start, "ms");
    qunsetenv("QINGHE_FOLDER");
    qunsetenv("QINGHE_CAMERA_IMAGE");
}

void saveFigures(const BenchFolder& folder)
{
    DatabaseConnection connection;
    connection.openDatabaseFile(folder.databaseFile());
    Recordset students;
    students.attach(connection);
    students.open(StudentTable::selectAll);
    constexpr int saves = 50;
    std::vector<double> times;
    for (int i = 0; i < saves; ++i) {
        const NewStudent student{
            QStringLiteral("新生%1").arg(i), BenchFolder::className(0), {}, benchPhoto(30 * 1024, i)};
        QString error;
        const double start = bench::nowMs();
        if (!RecordEntry::append(students, student, &error))
            qFatal("saving failed: %s", qPrintable(error));
        times.push_back(bench::nowMs() - start);
    }
    std::sort(times.begin(), times.end());
    double total = 0;
    for (double t : times)
        total += t;
    bench::report("entry", "save_ms", total / saves, "ms");
    bench::report("entry", "save_max_ms", times.back(), "ms");
}

void entryScenario()
{
    const BenchFolder folder(5000, 30 * 1024);
    startupFigures(folder);
    saveFigures(folder);
}

} // namespace

BENCH_SCENARIO("entry", entryScenario);
