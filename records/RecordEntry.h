// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

class Recordset;

// A student as the entry panel saves it: typed in, or picked from the roster with its number.
struct NewStudent {
    QString name;
    QString className;
    QString number;
    QByteArray photo;
};

namespace RecordEntry {

// The message that refuses the save, or empty text when the student may be saved.
QString refusal(const NewStudent& student);

// Appends the student through a recordset open on the student table and commits it at once.
// False, with the database's reason in `error`, when the write was refused; nothing is
// stored then.
bool append(Recordset& students, const NewStudent& student, QString* error);

} // namespace RecordEntry
