// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>

// Long work of a window (reading or rewriting a roster of many thousand rows) done on a
// thread of its own while the window's thread goes on painting. Input is held back until the
// work is done, so nothing the user clicks meanwhile runs in the middle of it; the caller
// goes on afterwards exactly as after a plain call.
namespace OffThread {

void run(const std::function<void()>& work);

} // namespace OffThread
