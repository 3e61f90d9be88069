// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QString>

class Recordset;

// What a row of the record editor's list shows; the photo itself stays in the database.
struct StudentListRow {
    int id = 0;
    QString 班级;
    QString 姓名;
    QString 编号;
    bool hasPhoto = false;

    bool operator==(const StudentListRow&) const = default;
};

enum class StudentRows { All, WithoutPhoto };

// The rows of an open result in its stored order, read from its first record; the result is
// left on its first record.
QList<StudentListRow> readStudentRows(Recordset& records, StudentRows which = StudentRows::All);

// The photo column's text: "有" or "无".
QString photoMark(bool hasPhoto);
