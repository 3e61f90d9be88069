// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QColor>
#include <QString>

// The colours among the stored setting texts. Apart from the rest of SettingText because
// QColor is Qt Gui's, and the web server reads its settings without linking that.
namespace SettingText {

// Stored as red + 256 × green + 65536 × blue.
QColor toColor(QStringView text);
QString fromColor(const QColor& color);

} // namespace SettingText
