#!/usr/bin/env bash
# Makes the test workbooks in this folder with other programs, as rosters reach the office:
# LibreOffice (soffice), Gnumeric (ssconvert), the npm package xlsx 0.18.5 (on NODE_PATH) and a
# hand-written .xlsx. Run it again only to change them; the tests use the committed files.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

python3 "$here/make-roster-fods.py" 30 > "$work/roster.fods"
python3 "$here/make-roster-fods.py" 2000 > "$work/roster-2000.fods"
for book in roster roster-2000; do
  for type in xls xlsx; do
    soffice --headless --convert-to "$type" --outdir "$work" "$work/$book.fods" >/dev/null
  done
done
cp "$work/roster.xls" "$work/roster.xlsx" "$work/roster-2000.xls" "$work/roster-2000.xlsx" "$here/"
ssconvert "$here/roster.xlsx" "$here/roster-gnumeric.xls" 2>/dev/null
ssconvert "$here/roster.xls" "$here/roster-gnumeric.xlsx" 2>/dev/null
node "$here/make-small-workbooks.js" "$here"
python3 "$here/make-inline-xlsx.py" "$here/inline-strings.xlsx"
