// SPDX-License-Identifier: GPL-3.0-or-later
#include "records/RecordEntry.h"

#include "archive/Recordset.h"

QString RecordEntry::refusal(const NewStudent& student)
{
    if (student.className.isEmpty() || student.name.isEmpty())
        return QStringLiteral("对不起，姓名或班级为空，不能保存");
    if (student.photo.isEmpty())
        return QStringLiteral("对不起，你还没有录入头像！");
    return {};
}

bool RecordEntry::append(Recordset& students, const NewStudent& student, QString* error)
{
    // A refused field drops the whole record, so nothing half-filled is left for a later move.
    students.moveLast();
    const bool stored = students.addNew() && students.writeText(u"姓名", student.name)
                        && students.writeText(u"班级", student.className)
                        && students.writeText(u"编号", student.number)
                        && students.writeBytes(u"照片", student.photo) && students.update();
    if (!stored && error)
        *error = students.lastError();
    return stored;
}
