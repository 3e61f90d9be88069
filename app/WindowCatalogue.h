// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "widgets/Navigator.h"

class AppContext;

// Makes a new instance of any window a window can open.
QWidget* createWindow(AppContext& context, WindowKind kind);
