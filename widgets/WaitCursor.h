// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class DatabaseConnection;

// Shows the wait cursor while a statement on `connection` waits for another program (the web
// server, a second copy of the program) to let go of the database, so a save that takes
// seconds does not look like a frozen window.
void showWaitCursorWhileLocked(DatabaseConnection& connection);
