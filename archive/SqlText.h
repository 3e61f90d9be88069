// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// A value placed between single quotes in an SQL text: quotes are doubled, so a class named
// O'Neil班 is looked up instead of breaking the statement.
inline QString sqlQuoted(QStringView value)
{
    QString text = value.toString();
    text.replace(u'\'', QStringLiteral("''"));
    return text;
}

// What follows the table in "select * from <table> ...", made to list the rows in the order
// they were stored: by `key`, unless the text orders them itself. A LIMIT or OFFSET keeps its
// place after the order. A text that cannot safely be followed (a comment, a second
// statement, a UNION, an unclosed quote) is left as it is.
QString inStoredOrder(const QString& rest, const QString& key);
