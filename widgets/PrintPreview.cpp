// SPDX-License-Identifier: GPL-3.0-or-later
#include "widgets/PrintPreview.h"

#include "formats/Length.h"

#include <QComboBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPrinter>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSpinBox>
#include <QVBoxLayout>

#include <cmath>

QString pdfFileOf(const QPrinter& printer)
{
    return printer.outputFormat() == QPrinter::PdfFormat ? printer.outputFileName() : QString();
}

// The page shown, on grey like paper on a desk; drawn again only when the page or the zoom
// changes.
class PrintPreviewDialog::PageView final : public QWidget {
public:
    PageView(const PrintPreviewDialog& dialog, QWidget* parent)
        : QWidget(parent)
        , m_dialog(dialog)
    {
    }

    void display(int page, double zoom)
    {
        if (page == m_page && zoom == m_zoom)
            return;
        m_page = page;
        m_zoom = zoom;
        m_image = {};
        const QRectF full = m_dialog.m_layout.fullRect(QPageLayout::Inch);
        const double dpi = Length::pixelsPerInch * zoom;
        setFixedSize(QSize(int(std::ceil(full.width() * dpi)) + 2 * border,
                           int(std::ceil(full.height() * dpi)) + 2 * border));
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), palette().color(QPalette::Dark));
        if (m_page < 0)
            return;
        if (m_image.isNull())
            m_image = render();
        const QRect page(QPoint(border, border), m_image.deviceIndependentSize().toSize());
        painter.fillRect(page.translated(3, 3), QColor(0x50, 0x50, 0x50));
        painter.drawImage(page, m_image);
    }

private:
    static constexpr int border = 12;

    QImage render() const
    {
        const QPageLayout& layout = m_dialog.m_layout;
        const double ratio = devicePixelRatioF();
        const double dpi = Length::pixelsPerInch * m_zoom * ratio;
        const QRectF full = layout.fullRect(QPageLayout::Inch);
        const QRectF paint = layout.paintRect(QPageLayout::Inch);
        QImage image(QSize(int(std::ceil(full.width() * dpi)), int(std::ceil(full.height() * dpi))),
                     QImage::Format_RGB32);
        image.setDevicePixelRatio(ratio);
        image.fill(Qt::white);
        QPainter painter(&image);
        // The painter of a device-pixel-ratio image works in logical pixels; the page is drawn
        // in device pixels, as on a printer.
        painter.scale(1 / ratio, 1 / ratio);
        painter.translate(paint.left() * dpi, paint.top() * dpi);
        m_dialog.m_source.paint(painter, layout, m_page, dpi, nullptr);
        return image;
    }

    const PrintPreviewDialog& m_dialog;
    int m_page = -1;
    double m_zoom = 0;
    QImage m_image;
};

namespace {

struct ZoomChoice {
    const char* text;
    double zoom;
};
constexpr ZoomChoice zoomChoices[] = {{"适合页面", 0}, {"适合宽度", -1}, {"50%", 0.5}, {"75%", 0.75},
                                      {"100%", 1},     {"150%", 1.5},    {"200%", 2}};

} // namespace

PrintPreviewDialog::PrintPreviewDialog(QPrinter& printer, PageSource source,
                                       std::function<bool(QPrinter&)> setUpPrinter, QWidget* parent)
    : QDialog(parent)
    , m_printer(printer)
    , m_source(std::move(source))
    , m_setUpPrinter(std::move(setUpPrinter))
{
    setWindowTitle(QStringLiteral("打印预览"));
    auto* previous = new QPushButton(QStringLiteral("上一页"));
    auto* next = new QPushButton(QStringLiteral("下一页"));
    m_page = new QSpinBox;
    m_page->setPrefix(QStringLiteral("第 "));
    m_page->setSuffix(QStringLiteral(" 页"));
    m_of = new QLabel;
    m_zoomChoice = new QComboBox;
    for (const ZoomChoice& choice : zoomChoices)
        m_zoomChoice->addItem(QString::fromUtf8(choice.text), choice.zoom);
    auto* printButton = new QPushButton(QStringLiteral("打印…"));
    auto* close = new QPushButton(QStringLiteral("关闭"));
    for (QPushButton* button : {previous, next, printButton, close})
        button->setAutoDefault(false);

    auto* bar = new QHBoxLayout;
    bar->addWidget(previous);
    bar->addWidget(next);
    bar->addWidget(m_page);
    bar->addWidget(m_of);
    bar->addSpacing(16);
    bar->addWidget(new QLabel(QStringLiteral("缩放")));
    bar->addWidget(m_zoomChoice);
    bar->addStretch();
    bar->addWidget(printButton);
    bar->addWidget(close);

    m_scroll = new QScrollArea;
    m_scroll->setAlignment(Qt::AlignCenter);
    m_scroll->setBackgroundRole(QPalette::Dark);
    m_view = new PageView(*this, m_scroll);
    m_scroll->setWidget(m_view);
    m_scroll->viewport()->installEventFilter(this);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addWidget(m_scroll, 1);

    connect(previous, &QPushButton::clicked, this, [this] { showPage(currentPage() - 1); });
    connect(next, &QPushButton::clicked, this, [this] { showPage(currentPage() + 1); });
    connect(m_page, &QSpinBox::valueChanged, this, [this](int number) { showPage(number - 1); });
    connect(m_zoomChoice, &QComboBox::currentIndexChanged, this,
            [this](int index) { setZoom(m_zoomChoice->itemData(index).toDouble()); });
    connect(printButton, &QPushButton::clicked, this, &PrintPreviewDialog::print);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);

    resize(860, 940);
    refresh();
}

PrintPreviewDialog::~PrintPreviewDialog() = default;

int PrintPreviewDialog::currentPage() const { return m_page->value() - 1; }

void PrintPreviewDialog::showPage(int index)
{
    index = std::clamp(index, 0, std::max(m_pageCount - 1, 0));
    if (m_page->value() != index + 1) {
        const QSignalBlocker quiet(m_page);
        m_page->setValue(index + 1);
    }
    m_view->display(index, shownZoom());
    m_scroll->verticalScrollBar()->setValue(0);
}

void PrintPreviewDialog::setZoom(double zoom)
{
    m_zoom = zoom;
    const int index = m_zoomChoice->findData(zoom);
    if (index >= 0 && index != m_zoomChoice->currentIndex()) {
        const QSignalBlocker quiet(m_zoomChoice);
        m_zoomChoice->setCurrentIndex(index);
    }
    m_view->display(currentPage(), shownZoom());
}

double PrintPreviewDialog::shownZoom() const
{
    if (m_zoom > 0)
        return m_zoom;
    const QRectF page = m_layout.fullRect(QPageLayout::Inch);
    const QSize room = m_scroll->viewport()->size() - QSize(30, 30);
    const double across = room.width() / (page.width() * Length::pixelsPerInch);
    const double down = room.height() / (page.height() * Length::pixelsPerInch);
    const double fit = m_zoom < 0 ? across : std::min(across, down);
    return std::clamp(fit, 0.1, 8.0);
}

void PrintPreviewDialog::refresh()
{
    m_layout = m_printer.pageLayout();
    m_pageCount = std::max(m_source.count(m_layout), 1);
    {
        const QSignalBlocker quiet(m_page);
        m_page->setRange(1, m_pageCount);
    }
    m_of->setText(QStringLiteral("共 %1 页").arg(m_pageCount));
    showPage(currentPage());
}

void PrintPreviewDialog::print()
{
    if (!m_setUpPrinter(m_printer)) {
        refresh(); // the dialog may have changed the paper
        return;
    }
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    printPages(m_printer, m_source, pdfFileOf(m_printer));
    QGuiApplication::restoreOverrideCursor();
    accept();
}

void PrintPreviewDialog::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_PageDown) {
        showPage(currentPage() + 1);
        return;
    }
    if (event->key() == Qt::Key_PageUp) {
        showPage(currentPage() - 1);
        return;
    }
    QDialog::keyPressEvent(event);
}

bool PrintPreviewDialog::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_scroll->viewport() && event->type() == QEvent::Resize && m_zoom <= 0)
        m_view->display(currentPage(), shownZoom());
    return QDialog::eventFilter(watched, event);
}
