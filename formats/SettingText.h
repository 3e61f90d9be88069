// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// How stored setting texts become numbers, flags and colours, and back. Every reader of the
// settings file goes through here, so a stored "12.9" or "abc" means the same everywhere.
namespace SettingText {

// Decimal text truncated toward zero ("12.9" -> 12, "-3.5" -> -3); text without a leading
// number reads as 0. Values beyond the 32-bit range are clamped.
int toInteger(QStringView text);
QString fromInteger(qint64 value);

// Set exactly when the text is "真".
bool toFlag(QStringView text);
QString fromFlag(bool set);

// Colours: formats/graphics/SettingColor.h, where Qt Gui is linked.

} // namespace SettingText
