// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QColor>
#include <QFont>
#include <QString>

#include <functional>
#include <optional>

class QPrinter;
class QWidget;
struct PageSource;

enum class MessageIcon { None, Information, Warning, Error };

struct FontChoice {
    QFont font;
    QColor color;
};

// Every message, question and chooser the windows show goes through here, so tests can
// answer them from a script and read back what was shown.
class Dialogs {
public:
    virtual ~Dialogs() = default;

    virtual void message(QWidget* parent, const QString& text, const QString& title = {},
                         MessageIcon icon = MessageIcon::Information) = 0;
    // OK / Cancel; true for OK.
    virtual bool confirm(QWidget* parent, const QString& text, const QString& title = {}) = 0;
    virtual std::optional<QString> input(QWidget* parent, const QString& prompt, const QString& title,
                                         const QString& initial = {}) = 0;
    virtual std::optional<QString> password(QWidget* parent, const QString& prompt, const QString& title) = 0;
    // The chosen path, or empty text when the user cancelled.
    virtual QString openFile(QWidget* parent, const QString& title, const QString& filter,
                             const QString& startPath = {}) = 0;
    virtual QString openPicture(QWidget* parent, const QString& title) = 0;
    virtual QString chooseFolder(QWidget* parent, const QString& prompt, const QString& startFolder) = 0;
    // Face, size, bold, italic and colour in one dialog; nothing when the user cancels.
    virtual std::optional<FontChoice> chooseFont(QWidget* parent, const FontChoice& initial) = 0;
    // The system print dialog; false when cancelled.
    virtual bool setUpPrinter(QWidget* parent, QPrinter& printer) = 0;
    // The pages on the printer's paper, drawn as they are looked at, with a print button.
    virtual void showPrintPreview(QWidget* parent, QPrinter& printer, const PageSource& pages) = 0;
};

// The real dialogs of the desktop.
class DesktopDialogs final : public Dialogs {
public:
    void message(QWidget* parent, const QString& text, const QString& title, MessageIcon icon) override;
    bool confirm(QWidget* parent, const QString& text, const QString& title) override;
    std::optional<QString> input(QWidget* parent, const QString& prompt, const QString& title,
                                 const QString& initial) override;
    std::optional<QString> password(QWidget* parent, const QString& prompt, const QString& title) override;
    QString openFile(QWidget* parent, const QString& title, const QString& filter,
                     const QString& startPath) override;
    QString openPicture(QWidget* parent, const QString& title) override;
    QString chooseFolder(QWidget* parent, const QString& prompt, const QString& startFolder) override;
    std::optional<FontChoice> chooseFont(QWidget* parent, const FontChoice& initial) override;
    bool setUpPrinter(QWidget* parent, QPrinter& printer) override;
    void showPrintPreview(QWidget* parent, QPrinter& printer, const PageSource& pages) override;
};
