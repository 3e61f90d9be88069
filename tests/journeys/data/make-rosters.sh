#!/usr/bin/env bash
# Makes roster.xls and roster.xlsx in this folder with LibreOffice, as an office saves a roster
# typed in Calc: Sheet1 with a bold header, numbers typed as numbers, a column of remarks and a
# second sheet. Needs soffice (Debian's libreoffice-calc-nogui). Run it again only to change
# them; the roster-day journey uses the committed files.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cell() { echo "<table:table-cell office:value-type=\"string\"><text:p>$1</text:p></table:table-cell>"; }
number() { echo "<table:table-cell office:value-type=\"float\" office:value=\"$1\"><text:p>$1</text:p></table:table-cell>"; }
head() { echo "<table:table-cell table:style-name=\"head\" office:value-type=\"string\"><text:p>$1</text:p></table:table-cell>"; }
row() { echo "<table:table-row>$(cell "$1")$(cell "$2")$(number "$3")$( [ -n "$4" ] && cell "$4" || echo '<table:table-cell/>')</table:table-row>"; }

cat > "$work/roster.fods" <<FODS
<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0"
 xmlns:style="urn:oasis:names:tc:opendocument:xmlns:style:1.0"
 xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0"
 xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0"
 xmlns:fo="urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0"
 office:version="1.2" office:mimetype="application/vnd.oasis.opendocument.spreadsheet">
<office:automatic-styles>
<style:style style:name="head" style:family="table-cell"><style:text-properties fo:font-weight="bold"/></style:style>
</office:automatic-styles>
<office:body><office:spreadsheet>
<table:table table:name="Sheet1">
<table:table-row>$(head 姓名)$(head 班级)$(head 编号)$(head 备注)</table:table-row>
$(row 李明 "七(1)班" 2025070101 住校)
$(row 张红 "七(1)班" 2025070102 "")
$(row 刘洋 "七(2)班" 2025070103 转学)
$(row 陈静 "七(1)班" 2025070104 "")
</table:table>
<table:table table:name="说明"><table:table-row>$(cell "保存后名单中该行清空。")</table:table-row></table:table>
</office:spreadsheet></office:body></office:document>
FODS
for type in xls xlsx; do
  soffice -env:UserInstallation="file://$work/profile" --headless --convert-to "$type" --outdir "$work" \
    "$work/roster.fods" >/dev/null
done
cp "$work/roster.xls" "$work/roster.xlsx" "$here/"
