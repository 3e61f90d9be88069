// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// `qinghe photos`: a class's photos written to an authority's standard, or a photographer's
// folder brought into a class. Answers the exit code: 3 when a student or a file was left out.
int runPhotosCommand(int argc, char* argv[]);
