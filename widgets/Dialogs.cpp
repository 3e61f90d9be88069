// SPDX-License-Identifier: GPL-3.0-or-later
#include "widgets/Dialogs.h"

#include "widgets/PrintPreview.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QFontDialog>
#include <QFontInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIdentityProxyModel>
#include <QInputDialog>
#include <QLabel>
#include <QLocale>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
QString captionOr(const QString& title) { return title.isEmpty() ? QStringLiteral("青禾名录") : title; }

// A box as narrow as a short text leaves its title bar too narrow for the title, which the
// window manager then cuts to "…": the box is made wide enough for the title and the bar's
// icon and buttons, whatever its text.
void fitTitle(QMessageBox& box)
{
    constexpr int titleBarControls = 110;
    QFont bold = box.font();
    bold.setBold(true);
    const int needed = QFontMetrics(bold).horizontalAdvance(box.windowTitle()) * 5 / 4 + titleBarControls;
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout()))
        grid->addItem(new QSpacerItem(needed, 0, QSizePolicy::Minimum, QSizePolicy::Fixed), grid->rowCount(),
                      0, 1, grid->columnCount());
}

// Qt's own file dialog dates the files in the desktop's locale, English on a computer set to
// C.UTF-8; the program's dates are Chinese.
class DatesInProgramLocale final : public QIdentityProxyModel {
public:
    using QIdentityProxyModel::QIdentityProxyModel;

    QVariant data(const QModelIndex& index, int role) const override
    {
        constexpr int modifiedColumn = 3;
        if (role == Qt::DisplayRole && index.column() == modifiedColumn)
            if (const auto* files = qobject_cast<const QFileSystemModel*>(sourceModel()))
                return QLocale().toString(files->lastModified(mapToSource(index)), QLocale::ShortFormat);
        return QIdentityProxyModel::data(index, role);
    }
};

QString chosenPath(QFileDialog& dialog)
{
    dialog.setProxyModel(new DatesInProgramLocale(&dialog));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

// Qt's font chooser has no colour, and offers bold and italic only for faces that carry such
// styles, which few CJK faces do; card texts take both from any face. This one adds a colour
// and two check boxes, and a sample that shows all of it.
class FontColourDialog final : public QDialog {
public:
    FontColourDialog(const FontChoice& initial, QWidget* parent)
        : QDialog(parent)
        , m_givenFamily(initial.font.family())
        // Stored layouts name Windows faces that exist here only as substitutes: the chooser
        // lists the real face, and a face left alone keeps the name it came with.
        , m_shownFamily(QFontInfo(initial.font).family())
        , m_colour(initial.color.isValid() ? initial.color : QColor(Qt::black))
    {
        setWindowTitle(QStringLiteral("字体"));
        QFont shown(initial.font);
        shown.setFamily(m_shownFamily);
        m_fonts = new QFontDialog(shown, this);
        m_fonts->setOptions(QFontDialog::NoButtons | QFontDialog::DontUseNativeDialog);
        m_fonts->setWindowFlags(Qt::Widget);
        m_fonts->setSizeGripEnabled(false);
        // Its effects (underline, strike-out) do not reach a card, and its sample shows no colour.
        for (QGroupBox* group : m_fonts->findChildren<QGroupBox*>())
            group->hide();
        m_lastListed = m_fonts->currentFont();

        m_bold = new QCheckBox(QStringLiteral("加粗"), this);
        m_bold->setChecked(initial.font.bold());
        m_italic = new QCheckBox(QStringLiteral("倾斜"), this);
        m_italic->setChecked(initial.font.italic());
        auto* colourButton = new QPushButton(QStringLiteral("字体颜色…"), this);
        m_sample = new QLabel(QStringLiteral("青禾实验学校　学生证　AaBbYyZz 2014"), this);
        m_sample->setFrameShape(QFrame::StyledPanel);
        m_sample->setAlignment(Qt::AlignCenter);
        m_sample->setMinimumHeight(72);
        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
        buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("确定"));
        buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("取消"));

        auto* options = new QHBoxLayout;
        options->addWidget(m_bold);
        options->addWidget(m_italic);
        options->addWidget(colourButton);
        options->addStretch();
        auto* layout = new QVBoxLayout(this);
        layout->addWidget(m_fonts);
        layout->addLayout(options);
        layout->addWidget(new QLabel(QStringLiteral("示例"), this));
        layout->addWidget(m_sample);
        layout->addWidget(buttons);

        connect(m_fonts, &QFontDialog::currentFontChanged, this, &FontColourDialog::followList);
        connect(m_bold, &QCheckBox::toggled, this, &FontColourDialog::showInList);
        connect(m_italic, &QCheckBox::toggled, this, &FontColourDialog::showInList);
        connect(colourButton, &QPushButton::clicked, this, &FontColourDialog::chooseColour);
        connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
        connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
        showSample();
    }

    FontChoice choice() const
    {
        QFont font = m_fonts->currentFont();
        if (font.family() == m_shownFamily)
            font.setFamily(m_givenFamily);
        font.setBold(m_bold->isChecked());
        font.setItalic(m_italic->isChecked());
        return {font, m_colour};
    }

private:
    // A style picked in the list sets the boxes; a size or a face picked leaves them alone, so
    // an italic the face does not list survives choosing its size.
    void followList(const QFont& listed)
    {
        if (listed.bold() != m_lastListed.bold())
            m_bold->setChecked(listed.bold());
        if (listed.italic() != m_lastListed.italic())
            m_italic->setChecked(listed.italic());
        m_lastListed = listed;
        showSample();
    }

    // The list shows the face's own style for the boxes where it has one.
    void showInList()
    {
        QFont font = m_fonts->currentFont();
        font.setBold(m_bold->isChecked());
        font.setItalic(m_italic->isChecked());
        m_fonts->setCurrentFont(font);
        showSample();
    }

    void chooseColour()
    {
        const QColor chosen = QColorDialog::getColor(m_colour, this, QStringLiteral("字体颜色"));
        if (chosen.isValid())
            m_colour = chosen;
        showSample();
    }

    void showSample()
    {
        QFont font = m_fonts->currentFont();
        font.setBold(m_bold->isChecked());
        font.setItalic(m_italic->isChecked());
        m_sample->setFont(font);
        QPalette palette = m_sample->palette();
        palette.setColor(QPalette::WindowText, m_colour);
        m_sample->setPalette(palette);
    }

    QString m_givenFamily;
    QString m_shownFamily;
    QColor m_colour;
    QFont m_lastListed;
    QFontDialog* m_fonts;
    QCheckBox* m_bold;
    QCheckBox* m_italic;
    QLabel* m_sample;
};

} // namespace

void DesktopDialogs::message(QWidget* parent, const QString& text, const QString& title, MessageIcon icon)
{
    QMessageBox box(parent);
    box.setWindowTitle(captionOr(title));
    box.setText(text);
    switch (icon) {
    case MessageIcon::None:
        break;
    case MessageIcon::Information:
        box.setIcon(QMessageBox::Information);
        break;
    case MessageIcon::Warning:
        box.setIcon(QMessageBox::Warning);
        break;
    case MessageIcon::Error:
        box.setIcon(QMessageBox::Critical);
        break;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.button(QMessageBox::Ok)->setText(QStringLiteral("确定"));
    fitTitle(box);
    box.exec();
}

bool DesktopDialogs::confirm(QWidget* parent, const QString& text, const QString& title)
{
    QMessageBox box(parent);
    box.setWindowTitle(captionOr(title));
    box.setText(text);
    box.setIcon(QMessageBox::Question);
    box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
    box.button(QMessageBox::Ok)->setText(QStringLiteral("确定"));
    box.button(QMessageBox::Cancel)->setText(QStringLiteral("取消"));
    box.setDefaultButton(QMessageBox::Cancel);
    fitTitle(box);
    return box.exec() == QMessageBox::Ok;
}

std::optional<QString> DesktopDialogs::input(QWidget* parent, const QString& prompt, const QString& title,
                                             const QString& initial)
{
    bool ok = false;
    const QString text =
        QInputDialog::getText(parent, captionOr(title), prompt, QLineEdit::Normal, initial, &ok);
    return ok ? std::optional<QString>(text) : std::nullopt;
}

std::optional<QString> DesktopDialogs::password(QWidget* parent, const QString& prompt, const QString& title)
{
    bool ok = false;
    const QString text =
        QInputDialog::getText(parent, captionOr(title), prompt, QLineEdit::Password, {}, &ok);
    return ok ? std::optional<QString>(text) : std::nullopt;
}

QString DesktopDialogs::openFile(QWidget* parent, const QString& title, const QString& filter,
                                 const QString& startPath)
{
    QFileDialog dialog(parent, title, startPath, filter);
    dialog.setFileMode(QFileDialog::ExistingFile);
    return chosenPath(dialog);
}

QString DesktopDialogs::openPicture(QWidget* parent, const QString& title)
{
    return openFile(parent, title, QStringLiteral("图片文件 (*.jpg *.jpeg *.png *.bmp *.gif);;所有文件 (*)"),
                    {});
}

QString DesktopDialogs::chooseFolder(QWidget* parent, const QString& prompt, const QString& startFolder)
{
    QFileDialog dialog(parent, prompt, startFolder);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    return chosenPath(dialog);
}

std::optional<FontChoice> DesktopDialogs::chooseFont(QWidget* parent, const FontChoice& initial)
{
    FontColourDialog dialog(initial, parent);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.choice();
}

bool DesktopDialogs::setUpPrinter(QWidget* parent, QPrinter& printer)
{
    QPrintDialog dialog(&printer, parent);
    return dialog.exec() == QDialog::Accepted;
}

void DesktopDialogs::showPrintPreview(QWidget* parent, QPrinter& printer, const PageSource& pages)
{
    // Qt's own preview draws every page into memory before it shows the first, which a
    // whole school's sheet cannot afford.
    PrintPreviewDialog dialog(
        printer, pages, [this, parent](QPrinter& p) { return setUpPrinter(parent, p); }, parent);
    dialog.exec();
}
