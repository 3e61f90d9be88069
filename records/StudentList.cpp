// SPDX-License-Identifier: GPL-3.0-or-later
#include "records/StudentList.h"

#include "archive/Recordset.h"

QList<StudentListRow> readStudentRows(Recordset& records, StudentRows which)
{
    QList<StudentListRow> rows;
    records.moveFirst();
    const int count = records.recordCount();
    rows.reserve(which == StudentRows::All ? count : 0);
    for (int i = 0; i < count; ++i) {
        // Asking whether the photo is empty does not load it: a list of thousands stays quick.
        const bool hasPhoto = !records.fieldIsEmpty(u"照片");
        if (which == StudentRows::All || !hasPhoto)
            rows.append({records.readInteger(u"id"), records.readText(u"班级"), records.readText(u"姓名"),
                         records.readText(u"编号"), hasPhoto});
        records.moveNext();
    }
    records.moveFirst();
    return rows;
}

QString photoMark(bool hasPhoto) { return hasPhoto ? QStringLiteral("有") : QStringLiteral("无"); }
