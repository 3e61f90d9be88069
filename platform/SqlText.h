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
