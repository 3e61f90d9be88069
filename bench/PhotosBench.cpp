// SPDX-License-Identifier: GPL-3.0-or-later
// An office exports a whole class to the graduation registry's standard, each photo framed by
// the face search, and brings in a photographer's folder of camera pictures. Both go by the
// student: a class of fifty must be done while the operator waits.
#include "bench/Bench.h"

#include "archive/DatabaseConnection.h"
#include "archive/StudentTable.h"
#include "records/FaceFinder.h"
#include "records/PhotoFolderImport.h"
#include "records/PhotoFraming.h"
#include "records/PhotoStandard.h"
#include "records/StandardExport.h"
#include "tests/support/FacePicture.h"
#include "tests/support/TestFolder.h"

#include <QDir>

namespace {

constexpr int students = 60;
const QString className = QStringLiteral("九(3)班");

// Pupils stand a little nearer or further and off the middle, as they do.
QImage cameraPicture(int i)
{
    return FacePicture::portrait(QSize(960, 1280), 280 + (i % 5) * 10,
                                 QPointF(460 + (i % 7) * 6, 540 + (i % 3) * 20));
}

QString number(int i) { return QStringLiteral("2026%1").arg(i, 3, 10, QLatin1Char('0')); }

void photosScenario()
{
    if (!PhotoFraming::threadFinder().usable())
        qFatal("no face cascade at %s", qPrintable(FaceFinder::defaultCascadeFile()));
    TestFolder folder;
    const QString cameraFolder = folder.path() + QStringLiteral("/摄影师");
    QDir().mkpath(cameraFolder);
    QList<TestFolder::Student> roster;
    for (int i = 0; i < students; ++i) {
        writeTestFile(cameraFolder + u'/' + number(i) + QStringLiteral(".jpg"),
                      PhotoFraming::jpeg(cameraPicture(i), 92));
        roster.append({QStringLiteral("学生%1").arg(i), className, number(i), {}});
    }
    folder.addStudents(roster);
    DatabaseConnection database;
    if (!StudentTable::openArchive(database, folder.databaseFile()))
        qFatal("no archive: %s", qPrintable(database.lastError()));

    double start = bench::nowMs();
    const PhotoFolderImport::Plan plan = PhotoFolderImport::plan(database, cameraFolder, className, false);
    QString error;
    if (PhotoFolderImport::store(database, plan, &error) != students)
        qFatal("import: %s %s", qPrintable(plan.error), qPrintable(error));
    bench::report("photos", "import_per_s", students * 1000.0 / (bench::nowMs() - start), "students/s");

    StandardExport::Request request;
    request.className = className;
    request.folder = folder.path() + QStringLiteral("/毕业");
    request.standard = PhotoStandards::defaults().at(1);
    start = bench::nowMs();
    const StandardExport::Report report = StandardExport::run(database, request);
    if (report.written.size() != students)
        qFatal("export: %s %s", qPrintable(report.error),
               qPrintable(report.leftOut.isEmpty() ? QString() : report.leftOut.first().reasons.join(u';')));
    bench::report("photos", "standard_per_s", students * 1000.0 / (bench::nowMs() - start), "students/s");
}

} // namespace

BENCH_SCENARIO("photos", photosScenario);
