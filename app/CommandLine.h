// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QStringList>

#include <optional>

// `qinghe` with arguments works without a window, over SSH and in scripts.
namespace CommandLine {

// True when the arguments ask for the command line rather than the main window.
bool wantsCommandLine(int argc, char* argv[]);

// Runs the command and answers the exit code.
int run(int argc, char* argv[]);

QString usage();

} // namespace CommandLine
