// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QFont>
#include <QString>

// The windows and stored card layouts name Windows faces (宋体, 黑体, 楷体_GB2312 …) that Linux
// does not have. Map each to the nearest packaged CJK face before any text is laid out, and
// let the program's own font fall back to the Simplified Chinese faces.
void installFontSubstitutes();

// A stored face name as a font: the face itself where it is installed, else the nearest
// Simplified Chinese face. Ideographs always take their Simplified Chinese forms: the font
// names those faces itself rather than leaving the choice to the locale, which under C.UTF-8
// or an English desktop would pick the Japanese forms (令, 骨, 直).
QFont chineseFont(const QString& face);
