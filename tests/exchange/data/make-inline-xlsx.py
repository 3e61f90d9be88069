#!/usr/bin/env python3
# Writes inline-strings.xlsx by hand, as small tools do: no shared strings, no styles, inline
# string cells (one of them in two runs), cells without references, a number in exponent form.
import sys
import zipfile

sheet = """<?xml version="1.0" encoding="UTF-8"?>
<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><sheetData>
<row><c t="inlineStr"><is><t>姓名</t></is></c><c t="inlineStr"><is><t>班级</t></is></c><c t="inlineStr"><is><t>编号</t></is></c></row>
<row><c t="inlineStr"><is><r><t>王</t></r><r><t>五</t></r></is></c><c t="inlineStr"><is><t>七(1)班</t></is></c><c><v>2.014070101E9</v></c></row>
<row r="4"><c r="A4" t="inlineStr"><is><t xml:space="preserve"> 赵六 </t></is></c><c r="C4" t="inlineStr"><is><t>2014070102</t></is></c></row>
</sheetData></worksheet>
"""
parts = {
    "[Content_Types].xml": """<?xml version="1.0" encoding="UTF-8"?>
<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">
<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>
<Default Extension="xml" ContentType="application/xml"/>
<Override PartName="/xl/workbook.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/>
<Override PartName="/xl/worksheets/sheet1.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/>
</Types>""",
    "_rels/.rels": """<?xml version="1.0" encoding="UTF-8"?>
<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">
<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="xl/workbook.xml"/>
</Relationships>""",
    "xl/workbook.xml": """<?xml version="1.0" encoding="UTF-8"?>
<workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" xmlns:rel="http://schemas.openxmlformats.org/officeDocument/2006/relationships">
<sheets><sheet name="Sheet1" sheetId="1" rel:id="rId1"/></sheets></workbook>""",
    "xl/_rels/workbook.xml.rels": """<?xml version="1.0" encoding="UTF-8"?>
<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">
<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="/xl/worksheets/sheet1.xml"/>
</Relationships>""",
    "xl/worksheets/sheet1.xml": sheet,
}
with zipfile.ZipFile(sys.argv[1] if len(sys.argv) > 1 else "inline-strings.xlsx", "w", zipfile.ZIP_DEFLATED) as z:
    for name, text in parts.items():
        z.writestr(name, text)
