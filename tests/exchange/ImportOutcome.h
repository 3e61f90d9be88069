// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "exchange/AccessImport.h"

// A conversion's answer, its reason and its report in one value, as the tests check them.
struct ImportOutcome : AccessImport::Report {
    bool ok = false;
    QString error;
};

inline ImportOutcome copyAccess(const QString& jetFile, const QString& out)
{
    ImportOutcome outcome;
    outcome.ok = AccessImport::copyTo(jetFile, out, &outcome, &outcome.error);
    return outcome;
}

inline ImportOutcome importAccess(const QString& jetFile, const QString& archive, bool append = false)
{
    ImportOutcome outcome;
    outcome.ok = AccessImport::importArchive(jetFile, archive, append, &outcome, &outcome.error);
    return outcome;
}
