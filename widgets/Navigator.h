// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QPointer>
#include <QWidget>

#include <functional>

// The windows a window can open besides the main window.
enum class WindowKind {
    RecordEditor,
    DatabaseAdmin,
    CardDesigner,
    CardPreview,
    ClassAdmin,
    WebSettings,
    PhotoStandards
};

// How a window is opened: modal without owner, or owned by its opener and not modal.
struct WindowMode {
    bool modal;
    bool owned;
};
WindowMode windowMode(WindowKind kind);

// Opens windows. Each opening creates the window anew (through the factory the program
// installs) and releases it when it closes. A modal opening returns once the window has
// closed; tests use a navigator that never blocks.
class Navigator {
public:
    using Factory = std::function<QWidget*(WindowKind)>;

    virtual ~Navigator() = default;
    void setFactory(Factory factory) { m_factory = std::move(factory); }

    QPointer<QWidget> open(WindowKind kind, QWidget* opener);

protected:
    virtual void present(QWidget* window, bool modal) = 0;

private:
    Factory m_factory;
};

class DesktopNavigator final : public Navigator {
protected:
    void present(QWidget* window, bool modal) override;
};
