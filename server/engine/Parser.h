// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "server/engine/Ast.h"
#include "server/engine/Scanner.h"

#include <memory>

namespace asp {

// Builds the tree of a scanned page, once; throws a located syntax error, or names the
// construct this engine does not run.
std::unique_ptr<Program> parseProgram(ScannedPage page);

} // namespace asp
