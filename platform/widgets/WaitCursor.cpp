// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/widgets/WaitCursor.h"

#include "platform/DatabaseConnection.h"

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
