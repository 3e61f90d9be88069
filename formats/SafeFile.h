// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

// Replaces a whole file so that a full disk, a crash or a power cut leaves either the old
// file or the new one, never a part of either: the bytes go to a temporary file beside the
// target, every write and the sync are checked, and only then is it renamed over the target
// and the folder synced. A failure answers false with a Chinese reason and leaves the old
// file as it was.
//
// Qt's QSaveFile is not enough on its own: it reports success after a failed flush of its
// buffer, so a full disk turned settings into an empty file.
namespace SafeFile {

bool write(const QString& path, QByteArrayView bytes, QString* error = nullptr);

// For writers that must make the file themselves (a database backup, a workbook library):
// `produce` writes the temporary file it is given and answers whether it did, with a reason.
// The file is then synced and renamed like one written by write().
using Producer = std::function<bool(const QString& temporaryPath, QString* error)>;
bool writeWith(const QString& path, const Producer& produce, QString* error = nullptr);

// The reason a file operation failed, from errno, in the words the windows show.
QString describeError(int errorNumber);

} // namespace SafeFile
