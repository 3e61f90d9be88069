// SPDX-License-Identifier: GPL-3.0-or-later
#include "cards/CardDesignerWindow.h"

#include "ui_CardDesignerWindow.h"

#include "cards/CardSurface.h"
#include "cards/pages/CardComposer.h"
#include "formats/Length.h"
#include "formats/SettingText.h"
#include "formats/graphics/Picture.h"
#include "widgets/AppContext.h"
#include "widgets/Dialogs.h"
#include "widgets/ItemCanvas.h"
#include "widgets/Navigator.h"

#include <QBuffer>
#include <QCloseEvent>
#include <QFile>
#include <QFileInfo>
#include <QPixmap>

#include <limits>
#include <optional>
#include <vector>

namespace {

constexpr QPoint newTextPosition{200, 100};
// The template label holds the text and font of a new text; its colour is not the theme's.
const QColor newTextColour = Qt::black;

const QString noTextToEdit = QStringLiteral("请选择需要编辑的文字！");
const QString noTextToDelete = QStringLiteral("请选择需要删除的文字！");
const QString noTextForFont = QStringLiteral("请选择需要编辑的文字");

FontChoice fontChoice(const TextStyle& style)
{
    QFont font(style.face.isEmpty() ? TextStyle::defaultFace : style.face);
    font.setPointSize(style.points > 0 ? style.points : TextStyle::defaultPoints);
    font.setBold(style.bold);
    font.setItalic(style.italic);
    return {font, style.colour};
}

TextStyle textStyle(const FontChoice& choice)
{
    const QFont& font = choice.font;
    const int points =
        font.pointSize() > 0 ? font.pointSize() : qRound(Length::pixels(font.pixelSize()).toPoints());
    return {font.family(), points, font.bold(), font.italic(),
            choice.color.isValid() ? choice.color : Qt::black};
}

// The canvas gives back an item's text and colour but not its font, so each item carries its
// font's description as "face,size,真|假,真|假" (size in points, then bold and italic).
QString itemFontTag(const TextStyle& style)
{
    return QStringList{style.face, SettingText::fromInteger(style.points), SettingText::fromFlag(style.bold),
                       SettingText::fromFlag(style.italic)}
        .join(u',');
}

TextStyle fromItemFontTag(const QString& tag)
{
    const QStringList fields = tag.split(u',');
    const auto field = [&fields](int i) { return i < fields.size() ? fields[i] : QString(); };
    return {field(0), SettingText::toInteger(field(1)), SettingText::toFlag(field(2)),
            SettingText::toFlag(field(3))};
}

// A font chooser's face, size, weight and slant over the canvas's own font, which gives the
// rest (no underline, no strike-out).
QFont itemFont(const ItemCanvas& canvas, const TextStyle& style)
{
    const QFont chosen = style.font();
    QFont font = canvas.defaultFont();
    font.setFamilies(chosen.families());
    font.setPixelSize(chosen.pixelSize());
    font.setBold(chosen.bold());
    font.setItalic(chosen.italic());
    return font;
}

QByteArray pngBytes(const QImage& image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

// The picture file's bytes, or why there are none.
std::optional<QByteArray> readPicture(const QString& path, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("无法读取“%1”：%2")
                     .arg(QFileInfo(path).fileName(), file.error() == QFileDevice::PermissionsError
                                                          ? QStringLiteral("没有读取这个文件的权限")
                                                          : QStringLiteral("文件打不开"));
        return std::nullopt;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        *error = QStringLiteral("无法读取“%1”：磁盘读写出错").arg(QFileInfo(path).fileName());
        return std::nullopt;
    }
    return bytes;
}

// Where a text of `size` covers least of what the card shows: the strokes of the canvas
// picture (its captions, frames, other texts) and the card's own elements (`taken`); nearest
// `preferred` among places that cover as little. Plain areas and gradients count as free.
QPoint leastCoveringPlace(const QImage& picture, const QList<QRect>& taken, QSize size, QPoint preferred)
{
    const int w = picture.width();
    const int h = picture.height();
    const QImage grey = picture.convertToFormat(QImage::Format_Grayscale8);
    // Summed counts of stroke edges: a pixel unlike its right or lower neighbour.
    std::vector<int> edges(size_t(w + 1) * size_t(h + 1), 0);
    const auto at = [w](int x, int y) { return size_t(y) * size_t(w + 1) + size_t(x); };
    for (int y = 0; y < h; ++y) {
        const uchar* line = grey.constScanLine(y);
        const uchar* below = grey.constScanLine(std::min(y + 1, h - 1));
        for (int x = 0; x < w; ++x) {
            constexpr int contrast = 40;
            const bool edge = std::abs(line[x] - line[std::min(x + 1, w - 1)]) > contrast
                              || std::abs(line[x] - below[x]) > contrast;
            edges[at(x + 1, y + 1)] = int(edge) + edges[at(x, y + 1)] + edges[at(x + 1, y)] - edges[at(x, y)];
        }
    }
    // A little room around the text, so it does not touch what it avoids.
    constexpr int room = 3;
    QPoint best = preferred;
    std::pair<qint64, qint64> least{std::numeric_limits<qint64>::max(), 0};
    for (int y = 0; y + size.height() <= h; y += 2) {
        for (int x = 0; x + size.width() <= w; x += 2) {
            const QRect place = QRect(QPoint(x, y), size).adjusted(-room, -room, room, room) & picture.rect();
            qint64 covered =
                edges[at(place.right() + 1, place.bottom() + 1)] - edges[at(place.left(), place.bottom() + 1)]
                - edges[at(place.right() + 1, place.top())] + edges[at(place.left(), place.top())];
            for (const QRect& element : taken)
                covered += qint64((place & element).width()) * (place & element).height();
            const std::pair<qint64, qint64> score{covered, (QPoint(x, y) - preferred).manhattanLength()};
            if (score < least) {
                least = score;
                best = {x, y};
            }
        }
    }
    return best;
}

} // namespace

CardDesignerWindow::CardDesignerWindow(AppContext& context, QWidget* parent)
    : QWidget(parent)
    , m_context(context)
    , m_ui(std::make_unique<Ui::CardDesignerWindow>())
    , m_surfacePicture(CardLayout::builtInBackground())
{
    m_ui->setupUi(this);
    m_ui->图片框2->setPixmap(QPixmap(QStringLiteral(":/images/sample-photo.jpg")));
    m_ui->动画框1->setBackground(m_surfacePicture);

    CardSurface* surface = m_ui->图片框1;
    surface->addElement(CardElement::Photo, m_ui->图片框2);
    for (const CardElement element : {CardElement::Name, CardElement::Class, CardElement::Number})
        surface->addElement(element, label(element));
    surface->addElement(CardElement::Barcode, m_ui->条码1, true);
    connect(surface, &CardSurface::elementReleased, this, &CardDesignerWindow::saveElementPosition);
    connect(surface, &CardSurface::elementResized, this, [this] { saveBarcode(); });
    for (const BarcodeType type : {BarcodeType::None, BarcodeType::Code128, BarcodeType::QR}) {
        const QString name = CardBarcode::typeName(type);
        m_ui->组合框1->addItem(QStringLiteral("条码：")
                                   + (type == BarcodeType::Code128 ? QStringLiteral("Code 128") : name),
                               name);
    }
    connect(m_ui->组合框1, &QComboBox::activated, this, &CardDesignerWindow::chooseBarcodeType);

    connect(m_ui->动画框1, &ItemCanvas::itemClicked, this, &CardDesignerWindow::selectText);
    connect(m_ui->动画框1, &ItemCanvas::itemDropped, this, &CardDesignerWindow::moveText);
    connect(m_ui->按钮7, &QPushButton::clicked, this, &CardDesignerWindow::addText);
    connect(m_ui->按钮10, &QPushButton::clicked, this, &CardDesignerWindow::chooseTextFont);
    connect(m_ui->按钮9, &QPushButton::clicked, this, &CardDesignerWindow::editText);
    connect(m_ui->按钮5, &QPushButton::clicked, this, &CardDesignerWindow::chooseBackground);
    connect(m_ui->按钮8, &QPushButton::clicked, this, &CardDesignerWindow::deleteText);
    connect(m_ui->按钮2, &QPushButton::clicked, this, [this] { chooseElementFont(CardElement::Name); });
    connect(m_ui->按钮3, &QPushButton::clicked, this, [this] { chooseElementFont(CardElement::Class); });
    connect(m_ui->按钮4, &QPushButton::clicked, this, [this] { chooseElementFont(CardElement::Number); });
    connect(m_ui->按钮1, &QPushButton::clicked, this, &CardDesignerWindow::loadLayout);
    connect(m_ui->按钮6, &QPushButton::clicked, this, &CardDesignerWindow::preview);

    loadLayout();
}

CardDesignerWindow::~CardDesignerWindow() = default;

void CardDesignerWindow::closeEvent(QCloseEvent* event)
{
    saveLayout();
    QWidget::closeEvent(event);
}

CardTextLabel* CardDesignerWindow::label(CardElement element) const
{
    switch (element) {
    case CardElement::Name:
        return m_ui->透明标签1;
    case CardElement::Class:
        return m_ui->透明标签2;
    case CardElement::Number:
        return m_ui->透明标签3;
    case CardElement::Photo:
    case CardElement::Barcode:
        break;
    }
    return nullptr;
}

// Also "重置": the canvas keeps its texts, and the surface shows the stored picture until the
// next change on the canvas.
void CardDesignerWindow::loadLayout()
{
    clearSelection();
    const CardLayout layout = CardLayout::load(m_context.appFolder);
    // A stored file that is no picture is left out, as every card leaves it out, but stays on
    // disk until the card is designed again.
    m_keepStoredBackground =
        !layout.background.isEmpty() && Picture::decode(layout.background, ItemCanvas::canvasSize).isNull();
    if (!layout.background.isEmpty() && !m_keepStoredBackground) {
        m_surfacePicture = layout.background;
        m_canvasPictureShown = false;
        m_ui->动画框1->setBackground(m_surfacePicture);
    }
    if (!m_canvasPictureShown)
        m_ui->图片框1->setPicture(m_surfacePicture);
    m_ui->图片框2->move(layout.photo);
    for (const auto& [element, text] : {std::pair{CardElement::Name, layout.name},
                                        {CardElement::Class, layout.className},
                                        {CardElement::Number, layout.number}}) {
        label(element)->move(text.position);
        label(element)->setStyle(text.style);
    }
    showBarcode(layout.barcode);
}

void CardDesignerWindow::showBarcode(const CardBarcode& barcode)
{
    CardBarcodeLabel& code = *m_ui->条码1;
    code.setGeometry(barcode.box);
    code.setType(barcode.type);
    code.setVisible(barcode.type != BarcodeType::None);
    m_ui->组合框1->setCurrentIndex(m_ui->组合框1->findData(CardBarcode::typeName(barcode.type)));
}

CardBarcode CardDesignerWindow::shownBarcode() const
{
    return {m_ui->条码1->type(), m_ui->条码1->geometry()};
}

void CardDesignerWindow::chooseBarcodeType()
{
    showBarcode(shownBarcode().ofType(CardBarcode::typeNamed(m_ui->组合框1->currentData().toString())));
    saveBarcode();
}

void CardDesignerWindow::saveBarcode()
{
    QString error;
    reportFailure(CardLayout::saveBarcode(m_context.appFolder, shownBarcode(), &error), error);
}

void CardDesignerWindow::saveLayout()
{
    const QString& folder = m_context.appFolder;
    QString error;
    QString firstError;
    bool saved = true;
    const auto note = [&](bool written) {
        if (!written && saved)
            firstError = error;
        saved = saved && written;
    };
    note(CardLayout::savePosition(folder, CardElement::Photo, m_ui->图片框2->pos(), &error));
    if (m_canvasPictureShown) {
        // Drawn again for paper from the fixed texts and the chosen picture's own pixels, not
        // enlarged from the screen's picture.
        m_surfacePicture = pngBytes(m_ui->动画框1->takePicture(QRect(QPoint(0, 0), ItemCanvas::canvasSize),
                                                               CardLayout::backgroundPrintSize));
        m_canvasPictureShown = false;
    }
    if (!m_keepStoredBackground)
        note(CardLayout::saveBackground(folder, m_surfacePicture, &error));
    for (const CardElement element : {CardElement::Name, CardElement::Class, CardElement::Number})
        note(CardLayout::savePosition(folder, element, label(element)->pos(), &error));
    // A layout that never had a code keeps no code section.
    if (shownBarcode().type != BarcodeType::None)
        note(CardLayout::saveBarcode(folder, shownBarcode(), &error));
    reportFailure(saved, firstError);
}

void CardDesignerWindow::preview()
{
    saveLayout();
    m_context.navigator.open(WindowKind::CardPreview, this);
}

void CardDesignerWindow::refreshSurface()
{
    m_ui->图片框1->setPicture(m_ui->动画框1->takePicture(QRect(QPoint(0, 0), ItemCanvas::canvasSize)));
    m_canvasPictureShown = true;
    m_keepStoredBackground = false;
}

void CardDesignerWindow::clearSelection()
{
    if (m_selected != 0)
        m_ui->动画框1->adjustBrightness(m_selected, +50);
    m_selected = 0;
}

void CardDesignerWindow::selectText(int id)
{
    clearSelection();
    m_selected = id;
    m_ui->动画框1->adjustBrightness(m_selected, -50);
}

void CardDesignerWindow::moveText(QPoint position, int id)
{
    m_ui->动画框1->moveItem(id, position);
    refreshSurface();
}

void CardDesignerWindow::addText()
{
    clearSelection();
    ItemCanvas& canvas = *m_ui->动画框1;
    const QLabel& model = *m_ui->动画物体1;
    const TextStyle style{model.font().family(), model.font().pointSize(), model.font().bold(),
                          model.font().italic(), newTextColour};
    const QImage shown = canvas.takePicture(QRect(QPoint(0, 0), ItemCanvas::canvasSize));
    const int id = canvas.createItem(model.text(), itemFont(canvas, style), style.colour, newTextPosition);
    canvas.setTag(id, itemFontTag(style));
    // Placed where it covers nothing yet: the school then moves it where it belongs.
    const QRect bounds = canvas.bounds(id);
    canvas.moveItem(id, leastCoveringPlace(shown, cardElementsOnCanvas(), bounds.size(), bounds.topLeft())
                            - (bounds.topLeft() - newTextPosition));
    refreshSurface();
}

QList<QRect> CardDesignerWindow::cardElementsOnCanvas() const
{
    // The canvas picture is stretched over the card's face.
    const QTransform toCanvas =
        QTransform::fromScale(double(ItemCanvas::canvasSize.width()) / CardComposer::faceSize.width(),
                              double(ItemCanvas::canvasSize.height()) / CardComposer::faceSize.height());
    QList<QRect> elements;
    for (const QWidget* element : m_ui->图片框1->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (element->isVisibleTo(m_ui->图片框1))
            elements.append(toCanvas.mapRect(QRectF(element->geometry())).toAlignedRect());
    }
    return elements;
}

bool CardDesignerWindow::refuseWithoutSelection(const QString& message)
{
    if (m_selected != 0)
        return false;
    m_context.dialogs.message(this, message, {}, MessageIcon::Warning);
    return true;
}

void CardDesignerWindow::editText()
{
    if (refuseWithoutSelection(noTextToEdit))
        return;
    ItemCanvas& canvas = *m_ui->动画框1;
    const std::optional<QString> text =
        m_context.dialogs.input(this, QStringLiteral("请输入要编辑文字"), {}, canvas.text(m_selected));
    if (text)
        canvas.setText(m_selected, *text);
    refreshSurface();
}

void CardDesignerWindow::deleteText()
{
    if (refuseWithoutSelection(noTextToDelete))
        return;
    m_ui->动画框1->deleteItem(std::exchange(m_selected, 0));
    refreshSurface();
}

void CardDesignerWindow::chooseTextFont()
{
    if (refuseWithoutSelection(noTextForFont))
        return;
    ItemCanvas& canvas = *m_ui->动画框1;
    TextStyle style = fromItemFontTag(canvas.tag(m_selected));
    style.colour = canvas.colour(m_selected);
    style = askFont(style);
    canvas.setText(m_selected, canvas.text(m_selected), itemFont(canvas, style), style.colour);
    canvas.setTag(m_selected, itemFontTag(style));
    refreshSurface();
}

void CardDesignerWindow::chooseBackground()
{
    const QString path = m_context.dialogs.openFile(this, QStringLiteral("请选择要打开的图片"),
                                                    QStringLiteral("图片文件 (*.bmp *.jpg *.png *.gif)"));
    if (path.isEmpty())
        return;
    // A picture that cannot be used never reaches the canvas, so the school's background stays
    // there and on disk.
    QString reason;
    const std::optional<QByteArray> bytes = readPicture(path, &reason);
    if (!bytes || Picture::decode(*bytes, ItemCanvas::canvasSize, &reason).isNull()) {
        m_context.dialogs.message(this, reason, {}, MessageIcon::Warning);
        return;
    }
    // Only the canvas picture taken below reaches the card, and only once the layout is saved.
    m_ui->动画框1->setBackground(*bytes);
    refreshSurface();
}

void CardDesignerWindow::chooseElementFont(CardElement element)
{
    CardTextLabel* text = label(element);
    text->setStyle(askFont(text->style()));
    // Written even when cancelled: the keys then hold what the card already shows.
    QString error;
    reportFailure(CardLayout::saveTextStyle(m_context.appFolder, element, text->style(), &error), error);
}

void CardDesignerWindow::saveElementPosition(CardElement element, QPoint position)
{
    if (element == CardElement::Barcode) {
        saveBarcode();
        return;
    }
    QString error;
    reportFailure(CardLayout::savePosition(m_context.appFolder, element, position, &error), error);
}

TextStyle CardDesignerWindow::askFont(const TextStyle& initial)
{
    const std::optional<FontChoice> choice = m_context.dialogs.chooseFont(this, fontChoice(initial));
    return choice ? textStyle(*choice) : initial;
}

void CardDesignerWindow::reportFailure(bool saved, const QString& error)
{
    if (!saved)
        m_context.dialogs.message(this, QStringLiteral("证件设置保存失败：") + error, {},
                                  MessageIcon::Warning);
}
