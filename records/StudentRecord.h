// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

class Recordset;

// One row of 学生 as a window holds it, one member per column.
struct StudentRecord {
    int id = 0;
    QString 姓名;
    QString 编号;
    QString 班级;
    QByteArray 照片;
    QString 性别;
    QString 住址;
    QString 电话;
    QByteArray 简介; // GBK bytes
    QString 出生年月;
    QString 选项;
};

// The current record of an open result; an empty record when there is none.
StudentRecord readStudentRecord(const Recordset& records);

// Writes every column a user may change into the current record and commits it. `id` and
// `选项` are never written: the database assigns the one and the web pages own the other.
bool writeStudentRecord(Recordset& records, const StudentRecord& record);

// The remarks column holds GBK bytes with Windows line breaks, as the program has always
// stored them and as browsers send them back from the web edit page.
QString remarksText(const QByteArray& bytes);
QByteArray remarksBytes(const QString& text);
