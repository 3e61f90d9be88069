// SPDX-License-Identifier: GPL-3.0-or-later
#include "archive/SqlText.h"

namespace {

bool isWordChar(QChar c) { return c.isLetterOrNumber() || c == u'_' || c.unicode() >= 0x80; }

} // namespace

QString inStoredOrder(const QString& rest, const QString& key)
{
    qsizetype limitAt = -1;
    QString previous; // the word before, across blanks
    for (qsizetype i = 0; i < rest.size();) {
        const QChar c = rest[i];
        const QChar next = i + 1 < rest.size() ? rest[i + 1] : QChar();
        if (c == u'\'' || c == u'"' || c == u'[' || c == u'`') {
            // A doubled quote inside a value reads as two values side by side: same outcome.
            const qsizetype end = rest.indexOf(c == u'[' ? u']' : c, i + 1);
            if (end < 0)
                return rest;
            i = end + 1;
            previous.clear();
            continue;
        }
        if (c == u';' || (c == u'-' && next == u'-') || (c == u'/' && next == u'*'))
            return rest;
        if (isWordChar(c)) {
            const qsizetype start = i;
            while (i < rest.size() && isWordChar(rest[i]))
                ++i;
            const QString word = rest.mid(start, i - start).toLower();
            if (word == u"by" && previous == u"order")
                return rest;
            if (word == u"union" || word == u"intersect" || word == u"except")
                return rest;
            if ((word == u"limit" || word == u"offset") && limitAt < 0)
                limitAt = start;
            previous = word;
            continue;
        }
        if (!c.isSpace())
            previous.clear();
        ++i;
    }
    const QString order = QStringLiteral(" ORDER BY ") + key;
    if (limitAt < 0)
        return rest + order;
    return rest.left(limitAt) + order.mid(1) + u' ' + rest.mid(limitAt);
}
