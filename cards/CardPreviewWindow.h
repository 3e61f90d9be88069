// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "archive/DatabaseConnection.h"
#include "archive/Recordset.h"
#include "cards/pages/CardComposer.h"
#include "cards/pages/CardSheet.h"
#include "cards/pages/SheetRenderer.h"

#include <QWidget>

#include <memory>
#include <optional>

class AppContext;
class QPrinter;
namespace Ui {
class CardPreviewWindow;
}

// The card sheet: the cards of all students, of a class or of a number or name, two per row,
// ready to print. Cards can be copied from cell to cell, and across openings of the window.
class CardPreviewWindow : public QWidget {
    Q_OBJECT
public:
    explicit CardPreviewWindow(AppContext& context, QWidget* parent = nullptr);
    ~CardPreviewWindow() override;

private:
    void open();
    void showAll();
    void showClass();
    void showNumberOrName();
    void showSelection(const QString& sql, const QString& title);
    void copyCard();
    void pasteCard();
    void saveCardSize();
    void print();
    void printPreview();
    SheetRenderer::Paper paper() const;
    void suggestPaper(QPrinter& printer, const SheetRenderer& renderer) const;

    AppContext& m_context;
    std::unique_ptr<Ui::CardPreviewWindow> m_ui;
    CardSheet::CardSize m_cardSize;
    std::optional<CardComposer> m_composer;
    DatabaseConnection m_connection;
    Recordset m_records;
};
