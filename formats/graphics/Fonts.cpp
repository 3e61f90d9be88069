// SPDX-License-Identifier: GPL-3.0-or-later
#include "formats/graphics/Fonts.h"

#include <QGuiApplication>
#include <QStringList>

namespace {

const QStringList& sansFaces()
{
    static const QStringList faces = {QStringLiteral("Noto Sans CJK SC"),
                                      QStringLiteral("WenQuanYi Micro Hei"),
                                      QStringLiteral("Droid Sans Fallback")};
    return faces;
}

const QStringList& serifFaces()
{
    static const QStringList faces = {QStringLiteral("Noto Serif CJK SC"), QStringLiteral("AR PL UMing CN"),
                                      QStringLiteral("Noto Sans CJK SC"),
                                      QStringLiteral("WenQuanYi Micro Hei")};
    return faces;
}

const QStringList& kaiFaces()
{
    static const QStringList faces = {QStringLiteral("AR PL UKai CN"), QStringLiteral("Noto Serif CJK SC"),
                                      QStringLiteral("Noto Sans CJK SC")};
    return faces;
}

// The brush a face is written with, guessed from its name: a face this program has never
// heard of still gets the Simplified Chinese face of its kind.
const QStringList& facesLike(const QString& face)
{
    for (const char* kai : {"楷", "隶", "行", "魏", "Kai"}) {
        if (face.contains(QString::fromUtf8(kai), Qt::CaseSensitive))
            return kaiFaces();
    }
    for (const char* serif : {"宋", "明", "仿", "Song", "Ming", "Fang", "Serif", "Times", "Roman", "Georgia",
                              "Garamond", "Cambria"}) {
        if (face.contains(QString::fromUtf8(serif), Qt::CaseInsensitive))
            return serifFaces();
    }
    return sansFaces();
}

} // namespace

void installFontSubstitutes()
{
    const auto map = [](const QStringList& names, const QStringList& faces) {
        for (const QString& name : names)
            QFont::insertSubstitutions(name, faces);
    };
    map({QStringLiteral("黑体"),          QStringLiteral("SimHei"),
         QStringLiteral("微软雅黑"),      QStringLiteral("Microsoft YaHei"),
         QStringLiteral("华文琥珀"),      QStringLiteral("STHupo"),
         QStringLiteral("幼圆"),          QStringLiteral("YouYuan"),
         QStringLiteral("华文细黑"),      QStringLiteral("STXihei"),
         QStringLiteral("方正姚体"),      QStringLiteral("FZYaoTi"),
         QStringLiteral("等线"),          QStringLiteral("DengXian"),
         QStringLiteral("华文彩云"),      QStringLiteral("STCaiyun"),
         QStringLiteral("Arial"),         QStringLiteral("Tahoma"),
         QStringLiteral("Verdana"),       QStringLiteral("MS Shell Dlg"),
         QStringLiteral("MS Shell Dlg 2")},
        sansFaces());
    map({QStringLiteral("宋体"), QStringLiteral("SimSun"), QStringLiteral("新宋体"),
         QStringLiteral("NSimSun"), QStringLiteral("仿宋"), QStringLiteral("FangSong"),
         QStringLiteral("仿宋_GB2312"), QStringLiteral("FangSong_GB2312"), QStringLiteral("华文中宋"),
         QStringLiteral("STZhongsong"), QStringLiteral("华文宋体"), QStringLiteral("STSong"),
         QStringLiteral("华文仿宋"), QStringLiteral("STFangsong"), QStringLiteral("Times New Roman")},
        serifFaces());
    map({QStringLiteral("楷体"), QStringLiteral("KaiTi"), QStringLiteral("楷体_GB2312"),
         QStringLiteral("KaiTi_GB2312"), QStringLiteral("华文楷体"), QStringLiteral("STKaiti"),
         QStringLiteral("隶书"), QStringLiteral("LiSu"), QStringLiteral("华文隶书"), QStringLiteral("STLiti"),
         QStringLiteral("华文行楷"), QStringLiteral("STXingkai"), QStringLiteral("华文新魏"),
         QStringLiteral("STXinwei")},
        kaiFaces());
    // The windows' own texts, in whatever face the desktop gives them.
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        QFont font = QGuiApplication::font();
        QStringList families = font.families();
        if (families.isEmpty())
            families << font.family();
        if (!families.contains(sansFaces().first())) {
            font.setFamilies(families + sansFaces());
            QGuiApplication::setFont(font);
        }
    }
}

QFont chineseFont(const QString& face)
{
    QFont font;
    font.setFamilies(QStringList{face} + facesLike(face));
    return font;
}
