// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "formats/workbook/NewWorkbook.h"

class Recordset;

namespace ListExport {

// Every record of `students` (a result on 学生) in a sheet of its own, one row each under a
// header row, in the order the result holds them. Photos stay out.
NewWorkbook studentList(Recordset& students);

} // namespace ListExport
