// SPDX-License-Identifier: GPL-3.0-or-later
#include "records/StudentRecord.h"

#include "archive/Recordset.h"
#include "formats/Gbk.h"

StudentRecord readStudentRecord(const Recordset& records)
{
    StudentRecord record;
    if (records.atEnd())
        return record;
    record.id = records.readInteger(u"id");
    record.姓名 = records.readText(u"姓名");
    record.编号 = records.readText(u"编号");
    record.班级 = records.readText(u"班级");
    record.照片 = records.readBytes(u"照片");
    record.性别 = records.readText(u"性别");
    record.住址 = records.readText(u"住址");
    record.电话 = records.readText(u"电话");
    record.简介 = records.readBytes(u"简介");
    record.出生年月 = records.readText(u"出生年月");
    record.选项 = records.readText(u"选项");
    return record;
}

bool writeStudentRecord(Recordset& records, const StudentRecord& record)
{
    return records.writeText(u"姓名", record.姓名) && records.writeText(u"班级", record.班级)
           && records.writeBytes(u"照片", record.照片) && records.writeText(u"编号", record.编号)
           && records.writeText(u"性别", record.性别) && records.writeText(u"电话", record.电话)
           && records.writeBytes(u"简介", record.简介) && records.writeText(u"出生年月", record.出生年月)
           && records.writeText(u"住址", record.住址) && records.update();
}

QString remarksText(const QByteArray& bytes)
{
    QString text = gbk::decode(bytes);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(u'\r', u'\n');
    return text;
}

QByteArray remarksBytes(const QString& text)
{
    QString windows = text;
    windows.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    windows.replace(u'\n', QStringLiteral("\r\n"));
    return gbk::encode(windows);
}
