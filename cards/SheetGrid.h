// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "cards/pages/CardSheet.h"

class AdvancedGrid;

// The card sheet on the screen: the grid shows a sheet, the user moves cards about in it, and
// what it then holds is read back as a sheet for paper.
namespace SheetGrid {

// Gives a new grid the sheet's columns and default cell sizes.
void define(AdvancedGrid& grid);
// Replaces what the grid holds with the sheet: rows, sizes, column kinds and cells.
void show(const CardSheet& sheet, AdvancedGrid& grid);
// The sheet the grid holds now, copied and pasted cards included, as it is to be printed.
CardSheet read(const AdvancedGrid& grid);

} // namespace SheetGrid
