// SPDX-License-Identifier: GPL-3.0-or-later
// The card designer as a school uses it: open it on a stored layout, lay twenty texts on the
// canvas (each change photographs the canvas onto the card surface), reset, and close.
#include "bench/Bench.h"
#include "bench/BenchFolder.h"

#include "cards/CardDesignerWindow.h"
#include "cards/pages/CardLayout.h"
#include "desktop/Shell.h"
#include "widgets/AppContext.h"
#include "widgets/Dialogs.h"
#include "widgets/Navigator.h"

#include <QPushButton>

namespace {

void designerScenario()
{
    const BenchFolder folder(0, 0);
    CardLayout::saveBackground(folder.path(), CardLayout::builtInBackground());
    DesktopDialogs dialogs;
    DesktopNavigator navigator;
    DesktopShell shell;
    AppContext context(dialogs, navigator, shell);
    context.appFolder = folder.path();

    constexpr int rounds = 20;
    double opened = 0;
    double changed = 0;
    double reset = 0;
    double saved = 0;
    for (int round = 0; round < rounds; ++round) {
        double start = bench::nowMs();
        auto* window = new CardDesignerWindow(context);
        opened += bench::nowMs() - start;

        auto* addText = window->findChild<QPushButton*>(QStringLiteral("按钮7"));
        start = bench::nowMs();
        for (int text = 0; text < 20; ++text)
            addText->click();
        changed += (bench::nowMs() - start) / 20;

        start = bench::nowMs();
        window->findChild<QPushButton*>(QStringLiteral("按钮1"))->click();
        reset += bench::nowMs() - start;

        start = bench::nowMs();
        window->close();
        saved += bench::nowMs() - start;
        delete window;
    }
    bench::report("designer", "open_ms", opened / rounds, "ms");
    bench::report("designer", "canvas_change_ms", changed / rounds, "ms");
    bench::report("designer", "reset_ms", reset / rounds, "ms");
    bench::report("designer", "close_ms", saved / rounds, "ms");
}

} // namespace

BENCH_SCENARIO("designer", designerScenario);
