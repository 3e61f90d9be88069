// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// Where the program folder is, and the user's own copy of an installed one. Apart from the
// folder's names because laying out a copy opens the archive, and opening the archive reads
// those names.
namespace ProgramFolder {

// The folder named by QINGHE_FOLDER; else the program's own folder (a build, or a folder
// copied whole) when the program may write there; else the user's own folder, laid out on
// first use from the program's folder or from an installation's share/qinghe. No trailing
// slash.
QString locate();

// What the folder a program folder is laid out from is: the program's own, which may itself
// be the program folder, or an installation's, which never holds an archive, even where the
// user may write (root, or an installation under the user's home).
enum class Installation { OwnFolder, Shared };

// The choice locate() makes, over given folders. `override` wins when set; a user folder
// that cannot be laid out leaves a folder of the program's own, which then opens read-only.
QString choose(const QString& override, const QString& installed, const QString& user,
               Installation installation = Installation::OwnFolder);

// $XDG_DATA_HOME/qinghe, by default ~/.local/share/qinghe.
QString userFolder();

// Copies the archive, the site files and the photos of an installed folder into `user`,
// each file whole, never replacing one that is there already: a first start lays the folder
// out, later starts only add what a newer installation brought. Where no archive came
// along, a new one is made.
bool layOut(const QString& installed, const QString& user, QString* error = nullptr);

// Makes DB/ and 照片/ of a program folder, and its archive when the file is absent or holds
// no data at all (zero bytes, or no table); an archive that holds data is never touched.
bool prepare(const QString& folder, QString* error = nullptr);

} // namespace ProgramFolder
