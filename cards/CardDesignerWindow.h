// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "cards/pages/CardLayout.h"

#include <QByteArray>
#include <QList>
#include <QRect>
#include <QWidget>

#include <memory>

class AppContext;
class CardTextLabel;
namespace Ui {
class CardDesignerWindow;
}

// Where a school lays out its card. On the left, a canvas of fixed texts over the background;
// every change there is photographed and becomes the card's background, which is all that is
// kept of the texts. On the right, the card as it will look, whose photo and three texts the
// user drags into place and dresses in fonts, and the code of the number, placed and sized on
// the card; each of those choices is stored at once.
class CardDesignerWindow : public QWidget {
    Q_OBJECT
public:
    explicit CardDesignerWindow(AppContext& context, QWidget* parent = nullptr);
    ~CardDesignerWindow() override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void loadLayout();
    void saveLayout();
    void preview();
    void refreshSurface();

    void clearSelection();
    void selectText(int id);
    void moveText(QPoint position, int id);
    void addText();
    void editText();
    void deleteText();
    void chooseTextFont();
    void chooseBackground();

    void chooseElementFont(CardElement element);
    void chooseBarcodeType();
    void showBarcode(const CardBarcode& barcode);
    CardBarcode shownBarcode() const;
    // The code's type, place and size as the surface shows them.
    void saveBarcode();
    void saveElementPosition(CardElement element, QPoint position);

    CardTextLabel* label(CardElement element) const;
    // The photo, texts and code of the card as they lie on the canvas.
    QList<QRect> cardElementsOnCanvas() const;
    // The font dialog opened on `initial`; `initial` itself when the user cancels.
    TextStyle askFont(const TextStyle& initial);
    bool refuseWithoutSelection(const QString& message);
    void reportFailure(bool saved, const QString& error);

    AppContext& m_context;
    std::unique_ptr<Ui::CardDesignerWindow> m_ui;
    int m_selected = 0; // the selected text on the canvas, 0 for none
    // What the card surface shows and what becomes the file `background`, byte for byte,
    // unless the surface shows the canvas: the canvas is then drawn again for paper on saving.
    QByteArray m_surfacePicture;
    bool m_canvasPictureShown = false;
    // The stored `background` cannot be shown here (too large, damaged): it is not replaced
    // by what the surface shows until the card is changed on the canvas.
    bool m_keepStoredBackground = false;
};
