// SPDX-License-Identifier: GPL-3.0-or-later
#include "records/Numbering.h"

#include "archive/DatabaseConnection.h"
#include "archive/Recordset.h"

#include <algorithm>
#include <optional>

namespace {
// The widest fill the old text column could hold; a larger count is a slip of the keyboard.
constexpr int maxDigits = 255;
} // namespace

QString numberPart(int i, QStringView digits)
{
    const auto isDigit = [](QChar c) { return c >= u'0' && c <= u'9'; };
    const bool plainNumber = !digits.isEmpty() && std::all_of(digits.begin(), digits.end(), isDigit);
    if (!plainNumber)
        return QString::number(i);
    bool fits = false;
    const int width = digits.toInt(&fits);
    return QStringLiteral("%1").arg(i, fits ? std::min(width, maxDigits) : maxDigits, 10, QChar(u'0'));
}

QString studentNumber(QStringView prefix, QStringView digits, int i)
{
    return prefix.toString() + numberPart(i, digits);
}

namespace {

// Nothing when every number was written and committed, else what failed.
std::optional<QString> numberInTransaction(DatabaseConnection& database, Recordset& records,
                                           const QString& query, const QStringList& numbers)
{
    DatabaseTransaction transaction(database);
    if (!transaction.isActive())
        return database.lastError();
    if (!records.open(query))
        return records.lastError();
    // The list was read a moment ago; should the class have changed since, only as many
    // records as the list shows are numbered.
    const qsizetype count = std::min<qsizetype>(numbers.size(), records.recordCount());
    for (qsizetype i = 0; i < count; ++i) {
        // Writing a row rewrites its photo as well: a number that stays is left alone, so
        // numbering a class again after one student joined rewrites that student only.
        if (records.readText(u"编号") != numbers[i] && !records.writeText(u"编号", numbers[i]))
            return records.lastError();
        if (!records.moveNext())
            return records.lastError();
    }
    if (!records.update())
        return records.lastError();
    if (!transaction.commit())
        return database.lastError();
    return std::nullopt;
}

} // namespace

bool writeStudentNumbers(DatabaseConnection& database, Recordset& records, const QString& query,
                         const QStringList& numbers, QString* error)
{
    const std::optional<QString> failure = numberInTransaction(database, records, query, numbers);
    if (failure) {
        records.open(query); // our copy still holds the numbers that were rolled back
        if (error)
            *error = failure->isEmpty() ? QStringLiteral("数据库错误") : *failure;
        return false;
    }
    records.moveFirst();
    return true;
}
