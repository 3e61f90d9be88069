// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// Where the program folder is, and the user's own copy of an installed one. Apart from the
// folder's names because laying out a copy opens the archive, and opening the archive reads
// those names.
namespace ProgramFolder {

// The folder named by QINGHE_FOLDER; else the executable's folder when the program may write
// there; else (an installed program under /usr/local or /opt) the user's own folder, laid out
// from the executable's folder on first use. No trailing slash.
QString locate();

// The choice locate() makes, over given folders. `override` wins when set; a user folder
// that cannot be laid out leaves the installed one, which then opens read-only.
QString choose(const QString& override, const QString& installed, const QString& user);

// $XDG_DATA_HOME/qinghe, by default ~/.local/share/qinghe.
QString userFolder();

// Copies the archive, the site files and the photos of an installed folder into `user`,
// each file whole, never replacing one that is there already: a first start lays the folder
// out, later starts only add what a newer installation brought.
bool layOut(const QString& installed, const QString& user, QString* error = nullptr);

} // namespace ProgramFolder
