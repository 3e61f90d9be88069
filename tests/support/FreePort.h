// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A port on 127.0.0.1 that nobody listens on at this moment; 0 when none could be found.
// Tests and benchmarks run side by side on one machine, so none may assume a fixed port.
int freeLocalPort();
