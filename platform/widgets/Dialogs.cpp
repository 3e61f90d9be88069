// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/widgets/Dialogs.h"

#include "platform/widgets/PrintPreview.h"

#include <QColorDialog>
#include <QFileDialog>
#include <QFontDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>

namespace {
QString captionOr(const QString& title)
{
    return title.isEmpty() ? QStringLiteral("青禾名录") : title;
}
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
    return box.exec() == QMessageBox::Ok;
}

std::optional<QString> DesktopDialogs::input(QWidget* parent, const QString& prompt, const QString& title,
                                             const QString& initial)
{
    bool ok = false;
    const QString text = QInputDialog::getText(parent, captionOr(title), prompt, QLineEdit::Normal, initial, &ok);
    return ok ? std::optional<QString>(text) : std::nullopt;
}

std::optional<QString> DesktopDialogs::password(QWidget* parent, const QString& prompt, const QString& title)
{
    bool ok = false;
    const QString text = QInputDialog::getText(parent, captionOr(title), prompt, QLineEdit::Password, {}, &ok);
    return ok ? std::optional<QString>(text) : std::nullopt;
}

QString DesktopDialogs::openFile(QWidget* parent, const QString& title, const QString& filter,
                                 const QString& startPath)
{
    return QFileDialog::getOpenFileName(parent, title, startPath, filter);
}

QString DesktopDialogs::openPicture(QWidget* parent, const QString& title)
{
    return QFileDialog::getOpenFileName(
        parent, title, {}, QStringLiteral("图片文件 (*.jpg *.jpeg *.png *.bmp *.gif);;所有文件 (*)"));
}

QString DesktopDialogs::chooseFolder(QWidget* parent, const QString& prompt, const QString& startFolder)
{
    return QFileDialog::getExistingDirectory(parent, prompt, startFolder);
}

std::optional<FontChoice> DesktopDialogs::chooseFont(QWidget* parent, const FontChoice& initial)
{
    bool ok = false;
    const QFont font = QFontDialog::getFont(&ok, initial.font, parent, QStringLiteral("字体"));
    if (!ok)
        return std::nullopt;
    const QColor color = QColorDialog::getColor(initial.color, parent, QStringLiteral("字体颜色"));
    return FontChoice{font, color.isValid() ? color : initial.color};
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
    PrintPreviewDialog dialog(printer, pages, [this, parent](QPrinter& p) { return setUpPrinter(parent, p); }, parent);
    dialog.exec();
}
