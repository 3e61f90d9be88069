// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>
#include <QImage>
#include <QPageLayout>

#include <functional>

class PdfFinisher;
class QComboBox;
class QLabel;
class QPagedPaintDevice;
class QPainter;
class QPrinter;
class QScrollArea;
class QSpinBox;

// A document of pages drawn when they are needed, so that neither a preview nor a print
// holds more than the page at hand.
struct PageSource {
    // How many pages the document takes on paper of this layout.
    std::function<int(const QPageLayout&)> count;
    // Draws page `index` (from 0) of that layout; the painter's origin is the top-left corner
    // of the page's paint area and its unit one device pixel of `dotsPerInch`. `file`, when
    // the pages go into a PDF file, carries JPEG pictures into it as they are stored.
    std::function<void(QPainter&, const QPageLayout&, int index, double dotsPerInch, PdfFinisher* file)>
        paint;
};

// Draws the pages onto a printer or a PDF file: all of them, or those of the device's page
// ranges. When the device writes the PDF file `pdfFile`, the file is finished once written
// (PdfFinisher). Answers how many pages it drew, 0 when the device could not be painted on or
// the file could not be finished.
int printPages(QPagedPaintDevice& device, const PageSource& source, const QString& pdfFile = {},
               QString* error = nullptr);

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
