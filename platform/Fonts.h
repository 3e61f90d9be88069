// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The windows and stored card layouts name Windows faces (宋体, 黑体, 华文琥珀 …) that Linux
// does not have. Map each to the nearest packaged CJK face before any text is laid out.
void installFontSubstitutes();
