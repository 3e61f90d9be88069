#!/usr/bin/python3
# Prints every sheet of a roster workbook as JSON, each row a list of cell texts, without the
# empty cells and rows at the ends (readers differ on those), read by another program than
# ours: xlrd for .xls, openpyxl for .xlsx.
import json
import sys


def text(value):
    if value is None:
        return ""
    if isinstance(value, float) and value.is_integer():
        return str(int(value))
    return str(value)


def trimmed(row):
    cells = [text(v) for v in row]
    while cells and cells[-1] == "":
        cells.pop()
    return cells


path = sys.argv[1]
out = {}
if path.endswith(".xlsx"):
    import openpyxl

    book = openpyxl.load_workbook(path)
    for sheet in book.worksheets:
        out[sheet.title] = [trimmed(row) for row in sheet.iter_rows(values_only=True)]
else:
    import xlrd

    book = xlrd.open_workbook(path)
    for sheet in book.sheets():
        out[sheet.name] = [trimmed(cell.value for cell in sheet.row(r)) for r in range(sheet.nrows)]
for rows in out.values():
    while rows and not rows[-1]:
        rows.pop()
json.dump(out, sys.stdout, ensure_ascii=False)
