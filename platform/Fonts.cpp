// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Fonts.h"

#include <QFont>
#include <QStringList>

void installFontSubstitutes()
{
    const QStringList sans = {QStringLiteral("Noto Sans CJK SC"), QStringLiteral("WenQuanYi Micro Hei"),
                              QStringLiteral("Droid Sans Fallback")};
    const QStringList serif = {QStringLiteral("Noto Serif CJK SC"), QStringLiteral("AR PL UMing CN"),
                               QStringLiteral("Noto Sans CJK SC"), QStringLiteral("WenQuanYi Micro Hei")};
    const QStringList kai = {QStringLiteral("AR PL UKai CN"), QStringLiteral("Noto Serif CJK SC"),
                             QStringLiteral("Noto Sans CJK SC")};
    const auto map = [](const QStringList& names, const QStringList& faces) {
        for (const QString& name : names)
            QFont::insertSubstitutions(name, faces);
    };
    map({QStringLiteral("黑体"), QStringLiteral("SimHei"), QStringLiteral("微软雅黑"),
         QStringLiteral("Microsoft YaHei"), QStringLiteral("华文琥珀"), QStringLiteral("STHupo"),
         QStringLiteral("幼圆"), QStringLiteral("YouYuan"), QStringLiteral("华文细黑"), QStringLiteral("STXihei")},
        sans);
    map({QStringLiteral("宋体"), QStringLiteral("SimSun"), QStringLiteral("新宋体"), QStringLiteral("NSimSun"),
         QStringLiteral("仿宋"), QStringLiteral("FangSong"), QStringLiteral("华文中宋"), QStringLiteral("STZhongsong")},
        serif);
    map({QStringLiteral("楷体"), QStringLiteral("KaiTi"), QStringLiteral("隶书"), QStringLiteral("LiSu"),
         QStringLiteral("华文行楷"), QStringLiteral("STXingkai")},
        kai);
}
