// SPDX-License-Identifier: GPL-3.0-or-later
#include "widgets/Navigator.h"

#include <QEventLoop>
#include <QWindow>

WindowMode windowMode(WindowKind kind)
{
    switch (kind) {
    case WindowKind::RecordEditor:
    case WindowKind::WebSettings:
    case WindowKind::PhotoStandards:
        return {false, true};
    case WindowKind::DatabaseAdmin:
    case WindowKind::CardDesigner:
    case WindowKind::CardPreview:
    case WindowKind::ClassAdmin:
        break;
    }
    return {true, false};
}

QPointer<QWidget> Navigator::open(WindowKind kind, QWidget* opener)
{
    if (!m_factory)
        return nullptr;
    QWidget* window = m_factory(kind);
    if (!window)
        return nullptr;
    const WindowMode mode = windowMode(kind);
    // An owned window goes with its owner, and the owner can still be brought to the front to
    // work beside it (taking a photo for the record editor); a modal one stands alone.
    window->setParent(mode.owned ? opener : nullptr, (window->windowFlags() & ~Qt::WindowType_Mask)
                                                         | (mode.modal ? Qt::Dialog : Qt::Window));
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->move(50, 50); // every window opens at the same place, as its definition says
    if (mode.modal) {
        window->setWindowModality(Qt::ApplicationModal);
        // Not owned, yet kept above the window it blocks: window managers let a plain window
        // slip behind its opener, which then ignores every click and looks frozen.
        if (opener && opener->window()->windowHandle()) {
            window->winId();
            window->windowHandle()->setTransientParent(opener->window()->windowHandle());
        }
    }
    QPointer<QWidget> guard(window);
    present(window, mode.modal);
    return guard;
}

void DesktopNavigator::present(QWidget* window, bool modal)
{
    window->show();
    if (!modal)
        return;
    QEventLoop loop;
    QObject::connect(window, &QObject::destroyed, &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::DialogExec);
}
