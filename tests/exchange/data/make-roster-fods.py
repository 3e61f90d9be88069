#!/usr/bin/env python3
# Writes roster.fods: the roster the tests read, as a school office types it in a spreadsheet
# program (bold header, set column widths, a merged header cell, dates, formulas, a second
# sheet). make-workbooks.sh turns it into .xls and .xlsx with LibreOffice and Gnumeric.
import sys

students = int(sys.argv[1]) if len(sys.argv) > 1 else 30

classes = ["七(1)班", "七(2)班", "七(3)班"]
surnames = "王李张刘陈杨黄赵吴周徐孙马朱胡郭何高林罗郑梁谢宋唐许韩冯邓曹"
given = ["伟", "芳", "娜", "敏", "静", "丽", "强", "磊", "洋", "艳"]

rows = []
for i in range(students):
    rows.append({"seq": i + 1, "name": surnames[i % len(surnames)] + given[i % len(given)] + ("" if i < 30 else str(i)),
                 "class": classes[i % 3], "number": 2014070101 + i,
                 "born": "2011-%02d-%02d" % (i % 12 + 1, i % 27 + 1)})
# A student whose class was left empty, a row whose name was blanked, and a student listed twice.
rows[11]["class"] = None
rows.insert(9, {"seq": None, "name": None, "class": "七(1)班", "number": 2014070199, "born": None})
rows.append(dict(rows[19]))

def cell(value, style=None, kind="string"):
    attrs = ' table:style-name="%s"' % style if style else ""
    if value is None:
        return "<table:table-cell%s/>" % attrs
    if kind == "float":
        return ('<table:table-cell%s office:value-type="float" office:value="%s"><text:p>%s</text:p>'
                "</table:table-cell>" % (attrs, value, value))
    if kind == "date":
        return ('<table:table-cell table:style-name="date" office:value-type="date" office:date-value="%s">'
                "<text:p>%s</text:p></table:table-cell>" % (value, value))
    return '<table:table-cell%s office:value-type="string"><text:p>%s</text:p></table:table-cell>' % (attrs, value)

out = []
w = out.append
w('<?xml version="1.0" encoding="UTF-8"?>')
w('<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" '
  'xmlns:style="urn:oasis:names:tc:opendocument:xmlns:style:1.0" '
  'xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" '
  'xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0" '
  'xmlns:fo="urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0" '
  'xmlns:number="urn:oasis:names:tc:opendocument:xmlns:datastyle:1.0" '
  'xmlns:of="urn:oasis:names:tc:opendocument:xmlns:of:1.2" '
  'office:version="1.2" office:mimetype="application/vnd.oasis.opendocument.spreadsheet">')
w("<office:automatic-styles>")
w('<number:date-style style:name="ymd"><number:year number:style="long"/><number:text>-</number:text>'
  '<number:month number:style="long"/><number:text>-</number:text><number:day number:style="long"/>'
  "</number:date-style>")
w('<style:style style:name="date" style:family="table-cell" style:data-style-name="ymd"/>')
w('<style:style style:name="head" style:family="table-cell"><style:table-cell-properties '
  'fo:background-color="#c0e0c0"/><style:text-properties fo:font-weight="bold"/></style:style>')
for name, width in [("narrow", "1.2cm"), ("name", "2.5cm"), ("class", "2.2cm"), ("number", "3.4cm"),
                    ("wide", "2.8cm")]:
    w('<style:style style:name="%s" style:family="table-column"><style:table-column-properties '
      'style:column-width="%s"/></style:style>' % (name, width))
w("</office:automatic-styles>")
w("<office:body><office:spreadsheet>")
w('<table:table table:name="Sheet1">')
for name in ["narrow", "name", "class", "number", "wide", "wide", "wide", "narrow"]:
    w('<table:table-column table:style-name="%s"/>' % name)
w("<table:table-row>" + cell("序号", "head") + cell("姓名", "head") + cell("班级", "head") + cell("编号", "head")
  + cell("出生日期", "head")
  + '<table:table-cell table:style-name="head" table:number-columns-spanned="2" office:value-type="string">'
    "<text:p>备注</text:p></table:table-cell><table:covered-table-cell/>"
  + cell("字数", "head") + "</table:table-row>")
for r, row in enumerate(rows, start=2):
    formula = ('<table:table-cell table:formula="of:=LEN([.B%d])" office:value-type="float" office:value="%d">'
               "<text:p>%d</text:p></table:table-cell>" % (r, len(row["name"] or ""), len(row["name"] or "")))
    w("<table:table-row>" + cell(row["seq"], kind="float") + cell(row["name"]) + cell(row["class"])
      + cell(row["number"], kind="float") + cell(row["born"], kind="date")
      + cell("住校" if r % 4 == 0 else None) + cell(None) + formula + "</table:table-row>")
w("</table:table>")
w('<table:table table:name="说明"><table:table-row>' + cell("名单说明：学生保存后，名单中该行清空。")
  + "</table:table-row><table:table-row>"
  + '<table:table-cell table:formula="of:=COUNTA([Sheet1.B2:.B40])" office:value-type="float" office:value="31">'
    "<text:p>31</text:p></table:table-cell></table:table-row></table:table>")
w("</office:spreadsheet></office:body></office:document>")
sys.stdout.write("\n".join(out) + "\n")
