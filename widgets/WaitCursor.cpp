// SPDX-License-Identifier: GPL-3.0-or-later
#include "widgets/WaitCursor.h"

#include "archive/DatabaseConnection.h"

#include <QApplication>

void showWaitCursorWhileLocked(DatabaseConnection& connection)
{
    connection.setLockWaitHandler([](bool waiting) {
        if (waiting)
            QApplication::setOverrideCursor(Qt::WaitCursor);
        else
            QApplication::restoreOverrideCursor();
    });
}
