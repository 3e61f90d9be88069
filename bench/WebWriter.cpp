// SPDX-License-Identifier: GPL-3.0-or-later
// qinghe-bench-webwriter DATABASE SECONDS: the desktop program's side of the web benchmark,
// a process of its own that saves a student every 100 ms through the same database layer as
// the windows, and says how many saves failed.
#include "archive/DatabaseConnection.h"
#include "archive/Recordset.h"
#include "archive/StudentTable.h"

#include <QElapsedTimer>
#include <QString>
#include <QThread>

#include <cstdio>

int main(int argc, char* argv[])
{
    if (argc != 3)
        return 2;
    const QString database = QString::fromLocal8Bit(argv[1]);
    const qint64 milliseconds = qint64(QString::fromLocal8Bit(argv[2]).toDouble() * 1000);

    DatabaseConnection connection;
    if (!connection.openDatabaseFile(database, StudentTable::databasePassword)) {
        std::fprintf(stderr, "%s\n", qPrintable(connection.lastError()));
        return 1;
    }
    int saves = 0, failures = 0;
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < milliseconds) {
        Recordset record;
        record.attach(connection);
        const bool saved = record.open(StudentTable::selectId(1 + saves % 50))
                           && record.writeText(u"住址", QStringLiteral("北京路 %1 号").arg(saves))
                           && record.update();
        if (!saved) {
            ++failures;
            std::fprintf(stderr, "%s\n", qPrintable(record.lastError()));
        }
        ++saves;
        QThread::msleep(100);
    }
    std::printf("%d %d\n", saves, failures);
    return 0;
}
