// SPDX-License-Identifier: GPL-3.0-or-later
#include "cards/pages/CardLayout.h"

#include "archive/ProgramFolder.h"
#include "formats/IniFile.h"
#include "formats/Length.h"
#include "formats/SafeFile.h"
#include "formats/SettingText.h"
#include "formats/graphics/Fonts.h"
#include "formats/graphics/Picture.h"
#include "formats/graphics/SettingColor.h"

#include <QFile>

namespace {

struct Section {
    QString name;
    QPoint defaultPosition;
};

Section sectionOf(CardElement element)
{
    switch (element) {
    case CardElement::Name:
        return {QStringLiteral("姓名设置"), CardLayout().name.position};
    case CardElement::Class:
        return {QStringLiteral("班级设置"), CardLayout().className.position};
    case CardElement::Number:
        return {QStringLiteral("编号设置"), CardLayout().number.position};
    case CardElement::Barcode:
        return {QStringLiteral("条码设置"), CardLayout().barcode.box.topLeft()};
    case CardElement::Photo:
        break;
    }
    return {QStringLiteral("sys"), CardLayout().photo};
}

QPoint readPosition(const QString& file, CardElement element)
{
    const Section section = sectionOf(element);
    return {IniFile::readInteger(file, section.name, u"左边", section.defaultPosition.x()),
            IniFile::readInteger(file, section.name, u"顶边", section.defaultPosition.y())};
}

CardText readText(const QString& file, CardElement element)
{
    const QString section = sectionOf(element).name;
    TextStyle style;
    style.face = IniFile::read(file, section, u"字体名称");
    style.points = SettingText::toInteger(IniFile::read(file, section, u"字体大小"));
    style.bold = IniFile::readFlag(file, section, u"加粗");
    style.italic = IniFile::readFlag(file, section, u"倾斜");
    style.colour = SettingText::toColor(IniFile::read(file, section, u"字体颜色"));
    return {readPosition(file, element), style};
}

CardBarcode readBarcode(const QString& file)
{
    const QString section = sectionOf(CardElement::Barcode).name;
    const QSize size = CardLayout().barcode.box.size();
    CardBarcode barcode;
    barcode.type = CardBarcode::typeNamed(IniFile::read(file, section, u"类型"));
    barcode.box = QRect(readPosition(file, CardElement::Barcode),
                        QSize(IniFile::readInteger(file, section, u"宽度", size.width()),
                              IniFile::readInteger(file, section, u"高度", size.height())));
    return barcode;
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

QFont TextStyle::font() const
{
    QFont font = chineseFont(face.isEmpty() ? defaultFace : face);
    // A stored size near the integer limit would overflow the conversion; nothing larger than
    // this fits on a card anyway.
    constexpr int largestPoints = 2000;
    font.setPixelSize(
        qRound(Length::points(points > 0 ? std::min(points, largestPoints) : defaultPoints).toPixels()));
    font.setBold(bold);
    font.setItalic(italic);
    return font;
}

CardLayout CardLayout::load(const QString& appFolder)
{
    const QString file = ProgramFolder::settingsFile(appFolder);
    CardLayout layout;
    layout.photo = readPosition(file, CardElement::Photo);
    layout.name = readText(file, CardElement::Name);
    layout.className = readText(file, CardElement::Class);
    layout.number = readText(file, CardElement::Number);
    layout.barcode = readBarcode(file);
    layout.background = readAll(ProgramFolder::backgroundFile(appFolder));
    return layout;
}

bool CardLayout::savePosition(const QString& appFolder, CardElement element, QPoint position, QString* error)
{
    return IniFile::write(ProgramFolder::settingsFile(appFolder), sectionOf(element).name,
                          {{QStringLiteral("左边"), SettingText::fromInteger(position.x())},
                           {QStringLiteral("顶边"), SettingText::fromInteger(position.y())}},
                          error);
}

bool CardLayout::saveTextStyle(const QString& appFolder, CardElement element, const TextStyle& style,
                               QString* error)
{
    if (element == CardElement::Photo || element == CardElement::Barcode)
        return false;
    return IniFile::write(ProgramFolder::settingsFile(appFolder), sectionOf(element).name,
                          {{QStringLiteral("字体名称"), style.face},
                           {QStringLiteral("加粗"), SettingText::fromFlag(style.bold)},
                           {QStringLiteral("倾斜"), SettingText::fromFlag(style.italic)},
                           {QStringLiteral("字体大小"), SettingText::fromInteger(style.points)},
                           {QStringLiteral("字体颜色"), SettingText::fromColor(style.colour)}},
                          error);
}

bool CardLayout::saveBarcode(const QString& appFolder, const CardBarcode& barcode, QString* error)
{
    return IniFile::write(ProgramFolder::settingsFile(appFolder), sectionOf(CardElement::Barcode).name,
                          {{QStringLiteral("类型"), CardBarcode::typeName(barcode.type)},
                           {QStringLiteral("左边"), SettingText::fromInteger(barcode.box.left())},
                           {QStringLiteral("顶边"), SettingText::fromInteger(barcode.box.top())},
                           {QStringLiteral("宽度"), SettingText::fromInteger(barcode.box.width())},
                           {QStringLiteral("高度"), SettingText::fromInteger(barcode.box.height())}},
                          error);
}

QString CardBarcode::typeName(BarcodeType type)
{
    switch (type) {
    case BarcodeType::Code128:
        return QStringLiteral("Code128");
    case BarcodeType::QR:
        return QStringLiteral("QR");
    case BarcodeType::None:
        break;
    }
    return QStringLiteral("无");
}

CardBarcode CardBarcode::ofType(BarcodeType newType) const
{
    CardBarcode barcode{newType, box};
    const QSize wide = CardBarcode().box.size();
    QSize size = box.size();
    if (newType == BarcodeType::QR)
        size = barcode.sizeFor(QSize(std::max(std::min(size.width(), size.height()), chosenQrSide), 0));
    else if (newType == BarcodeType::Code128 && size.height() > size.width() / 2)
        size = wide;
    barcode.box = QRect(box.left(), box.top() + box.height() - size.height(), size.width(), size.height());
    return barcode;
}

QSize CardBarcode::sizeFor(QSize asked) const
{
    if (type == BarcodeType::QR) {
        const int side = std::max({asked.width(), asked.height(), smallestQrSide});
        return {side, side};
    }
    return asked.expandedTo(QSize(smallestSide, smallestSide));
}

BarcodeType CardBarcode::typeNamed(const QString& name)
{
    if (name == u"Code128")
        return BarcodeType::Code128;
    if (name == u"QR")
        return BarcodeType::QR;
    return BarcodeType::None;
}

bool CardLayout::saveBackground(const QString& appFolder, const QByteArray& bytes, QString* error)
{
    return SafeFile::write(ProgramFolder::backgroundFile(appFolder), bytes, error);
}

QImage CardLayout::backgroundPicture(QSize drawSize) const
{
    QImage picture;
    if (!background.isEmpty())
        picture = Picture::decode(background, drawSize);
    if (picture.isNull())
        picture = Picture::decode(builtInBackground(), drawSize);
    return picture;
}

QByteArray CardLayout::builtInBackground()
{
    QFile file(QStringLiteral(":/images/card-background.jpg"));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
