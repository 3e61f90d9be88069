// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "formats/graphics/PageSource.h"

#include <QDialog>
#include <QImage>
#include <QPageLayout>

#include <functional>

class QComboBox;
class QLabel;
class QPrinter;
class QScrollArea;
class QSpinBox;

// The PDF file a printer writes ("print to file"), or empty text when it prints on paper.
QString pdfFileOf(const QPrinter& printer);

// The print preview: one page at a time at the zoom the user picks, turned with the buttons or
// Page Up and Page Down, and a print button that opens the print dialog. Only the page shown
// is drawn, so a sheet of a thousand cards opens at once and costs one page of memory.
class PrintPreviewDialog : public QDialog {
    Q_OBJECT
public:
    // `setUpPrinter` shows the print dialog and answers whether to print.
    PrintPreviewDialog(QPrinter& printer, PageSource source, std::function<bool(QPrinter&)> setUpPrinter,
                       QWidget* parent = nullptr);
    ~PrintPreviewDialog() override;

    int pageCount() const { return m_pageCount; }
    int currentPage() const; // from 0
    void showPage(int index);
    // Screen pixels per page inch divided by 96; 0 fits the page, -1 fits its width.
    void setZoom(double zoom);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    // A fitting zoom follows the room the page has.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    class PageView;

    void refresh();
    void print();
    double shownZoom() const;

    QPrinter& m_printer;
    PageSource m_source;
    std::function<bool(QPrinter&)> m_setUpPrinter;
    QPageLayout m_layout;
    int m_pageCount = 0;
    double m_zoom = 0;
    QSpinBox* m_page = nullptr;
    QLabel* m_of = nullptr;
    QComboBox* m_zoomChoice = nullptr;
    QScrollArea* m_scroll = nullptr;
    PageView* m_view = nullptr;
};
