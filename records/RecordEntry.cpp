// SPDX-License-Identifier: GPL-3.0-or-later
#include "records/RecordEntry.h"

#include "platform/Recordset.h"

#include <QStringList>

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
    // A write that fails after addNew would leave a half-filled record for the next move to
    // commit, so every field is known to exist before the record is begun. (A result that is
    // not open has no fields; addNew gives the reason then.)
    QStringList fields;
    for (int i = 0; i < students.fieldCount(); ++i)
        fields << students.fieldName(i);
    for (const QString& field :
         {QStringLiteral("姓名"), QStringLiteral("班级"), QStringLiteral("编号"), QStringLiteral("照片")}) {
        if (!fields.isEmpty() && !fields.contains(field)) {
            if (error)
                *error = QStringLiteral("学生表没有字段") + field;
            return false;
        }
    }
    students.moveLast();
    const bool stored = students.addNew() && students.writeText(u"姓名", student.name)
                        && students.writeText(u"班级", student.className) && students.writeText(u"编号", student.number)
                        && students.writeBytes(u"照片", student.photo) && students.update();
    if (!stored && error)
        *error = students.lastError();
    return stored;
}
