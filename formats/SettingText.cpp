// SPDX-License-Identifier: GPL-3.0-or-later
#include "formats/SettingText.h"

#include <limits>

namespace SettingText {

int toInteger(QStringView text)
{
    const QStringView t = text.trimmed();
    qsizetype i = 0;
    bool negative = false;
    if (i < t.size() && (t[i] == u'-' || t[i] == u'+')) {
        negative = t[i] == u'-';
        ++i;
    }
    qint64 value = 0;
    for (; i < t.size() && t[i] >= u'0' && t[i] <= u'9'; ++i) {
        if (value <= std::numeric_limits<int>::max())
            value = value * 10 + (t[i].unicode() - u'0');
    }
    // The fraction, if any, is simply not read: that is the truncation toward zero.
    if (negative)
        value = -value;
    return int(std::clamp<qint64>(value, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

QString fromInteger(qint64 value) { return QString::number(value); }

bool toFlag(QStringView text) { return text == u"真"; }

QString fromFlag(bool set) { return set ? QStringLiteral("真") : QStringLiteral("假"); }

} // namespace SettingText
