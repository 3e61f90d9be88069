// SPDX-License-Identifier: GPL-3.0-or-later
#include "formats/graphics/SettingColor.h"

#include "formats/SettingText.h"

namespace SettingText {

QColor toColor(QStringView text)
{
    const unsigned value = unsigned(toInteger(text));
    return QColor(int(value & 0xff), int((value >> 8) & 0xff), int((value >> 16) & 0xff));
}

QString fromColor(const QColor& color)
{
    return fromInteger(qint64(color.red()) + 256 * qint64(color.green()) + 65536 * qint64(color.blue()));
}

} // namespace SettingText
