#!/usr/bin/python3
# Prints every cell of every sheet of a workbook (.xls or .xlsx) as JSON, read by xlrd: the
# second reader the tests hold a rewritten workbook against.
import json
import sys

import xlrd

book = xlrd.open_workbook(sys.argv[1])
out = {}
for sheet in book.sheets():
    out[sheet.name] = [[[cell.ctype if cell.ctype != xlrd.XL_CELL_BLANK else xlrd.XL_CELL_EMPTY, cell.value]
                        for cell in sheet.row(r)] for r in range(sheet.nrows)]
json.dump(out, sys.stdout, ensure_ascii=False)
