// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "cards/pages/SheetRenderer.h"

#include <QString>
#include <QStringList>

#include <optional>

// The card sheet of every student, or of one class, straight into a PDF file: what
// `qinghe cards` does, over SSH and in scripts. Needs a QGuiApplication and no widget.
namespace CardsPdf {

struct Written {
    int cards = 0;
    int pages = 0;
    // What a person should look at although the file was written: a background that cannot
    // be used, photos that cannot be shown or show only in part.
    QStringList warnings;
};

// Composes the cards of the archive of `appFolder` and writes them into `pdf` as the printed
// sheet lays them out, or one card a page for a card printer. Refuses, with the reason in `error`, what would
// pass for a finished job and is not: an archive that cannot be read, a selection without students, cards of
// no size, a file that cannot be written (the old file then stays as it was).
bool write(const QString& appFolder, const std::optional<QString>& className, const QString& pdf,
           SheetRenderer::Paper paper, Written* written, QString* error);

} // namespace CardsPdf
