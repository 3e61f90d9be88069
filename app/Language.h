// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class QCoreApplication;

// Qt's own texts (standard buttons, the file, print and font dialogs) and its dates follow
// Simplified Chinese like the rest of the program, whatever the desktop's locale: school
// computers are often set to C.UTF-8 or to English.
void useSimplifiedChinese(QCoreApplication& app);
