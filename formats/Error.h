// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// What went wrong, in two parts: a kind the program branches on, and words that only people
// read. The words may change with a translation or a better phrasing; the kinds stay.
enum class ErrorKind {
    None,
    Failed,            // nothing the caller treats apart: the words say what
    Missing,           // the file is not there
    NotConverted,      // an Access archive that has not been converted yet
    NotStudentArchive, // a database, but without the student tables, or no database at all
    Damaged,           // the archive is damaged
    ServerUnreachable, // the archive's server cannot be reached, or the connection broke
};

struct Error {
    ErrorKind kind = ErrorKind::None;
    QString text;
};
