#!/usr/bin/env bash
# Fails when a room includes a header of a room it does not link, when rooms or files include
# each other round a circle, or when a library's header turns up outside the rooms that link
# that library. CI runs it before the build, and `make test` runs it as the test check_rooms.
# Usage: scripts/check-rooms.sh [source folder]
set -euo pipefail
cd "${1:-$(dirname "$0")/..}"

# Each room and the rooms its files may include, as the room's link line in CMake has them:
# a new arrow between rooms is a decision, made here and in CMake together. A room is a
# folder, or a file stem where one folder holds a second library (web/SitePages: the site's
# pages, which the web server's build step uses without a widget). cards/pages prints cards
# for the command line without a widget. A file belongs to the
# longest room its path begins with. "*" lets a room include every other.
rooms='
formats
formats/graphics   formats
formats/workbook
archive/jet
archive            formats archive/jet
archive/workbook   archive formats formats/workbook
desktop            formats formats/workbook
widgets            archive formats formats/graphics
server/engine      archive formats
server             server/engine archive formats
web/SitePages      archive formats
web                web/SitePages widgets archive formats
records            widgets archive desktop formats formats/graphics
exchange           widgets archive archive/jet archive/workbook desktop formats formats/workbook
cards/pages        archive formats formats/graphics
cards              cards/pages widgets archive formats formats/graphics
tools              web/SitePages archive formats
app                records exchange cards cards/pages web web/SitePages widgets archive archive/jet archive/workbook desktop formats formats/graphics formats/workbook
bench              *
tests              *
'

# The headers of libraries that only some rooms link. Only the archive speaks to the database
# libraries; tests and benchmarks may open an archive file with SQLite's own API to look at it
# or damage it.
libraries='
sqlite3.h          archive archive/workbook tests bench
libpq-fe.h         archive
mdbtools.h         archive/jet
jpeglib.h          formats/graphics
gsf/               formats/workbook
zip.h              formats/workbook
pugixml.hpp        formats/workbook
xlsxwriter.h       formats/workbook
gio/               desktop
opencv2/           records
zint.h             cards/pages
httplib.h          server tests bench
'

# Every source of the tree, new ones included; build folders are none of git's business.
if [[ -e .git ]]; then
    mapfile -d '' files < <(git ls-files -z --cached --others --exclude-standard -- '*.cpp' '*.h' '*.ui')
else
    mapfile -d '' files < <(find . -path './build*' -prune -o -type f \( -name '*.cpp' -o -name '*.h' -o -name '*.ui' \) \
        -printf '%P\0')
fi

# One line per include: file, line, the included name, and whether it was named "" or <>.
includes() {
    { grep -sHnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"]|<header>' "${files[@]}" || true; } \
        | sed -E 's/^([^:]*):([0-9]+):.*(#[[:space:]]*include[[:space:]]*|<header>)([<"]?)([^">]*).*/\1\t\2\t\5\t\4/'
}
loops=$(mktemp)
trap 'rm -f "$loops"' EXIT

failed=0
report=$({ printf '%s\n' "${files[@]}"; includes; } | awk -F'\t' -v rooms="$rooms" -v libraries="$libraries" '
    function roomOf(path,    r, best) {
        best = ""
        for (r in allowed)
            if ((index(path, r "/") == 1 || index(path, r ".") == 1) && length(r) > length(best))
                best = r
        return best
    }
    function may(room, other) { return room == other || allowed[room] ~ ("(^| )(\\*|" other ")( |$)") }
    BEGIN {
        n = split(rooms, lines, "\n")
        for (i = 1; i <= n; i++) {
            if (split(lines[i], w, " ") == 0) continue
            allowed[w[1]] = ""
            for (j = 2; j in w; j++) allowed[w[1]] = allowed[w[1]] (j > 2 ? " " : "") w[j]
        }
        n = split(libraries, lines, "\n")
        for (i = 1; i <= n; i++) {
            if (split(lines[i], w, " ") == 0) continue
            users[w[1]] = ""
            for (j = 2; j in w; j++) users[w[1]] = users[w[1]] " " w[j] " "
        }
    }
    NF == 1 {
        if (roomOf($1) == "")
            print $1 ": 这个文件不属于任何一个房间：请把它的文件夹加进 scripts/check-rooms.sh 的表"
        next
    }
    {
        file = $1; line = $2; name = $3; quoted = $4 != "<"
        room = roomOf(file)
        if (room == "")
            next
        if (quoted && name ~ /\//) {
            other = roomOf(name)
            if (other == "")
                print file ":" line ": 包含了不属于任何房间的头文件 " name
            else if (!may(room, other))
                print file ":" line ": " room " 没有链接 " other "，不能包含 " name
            next
        }
        for (header in users) {
            if ((name == header || (header ~ /\/$/ && index(name, header) == 1)) && index(users[header], " " room " ") == 0)
                print file ":" line ": " room " 没有链接 " header " 所属的库，不能包含 " name
        }
    }
') || true
if [[ -n "$report" ]]; then
    printf '%s\n' "$report" >&2
    failed=1
fi

# Rooms that may include each other round a circle are one room in two folders.
if ! printf '%s\n' "$rooms" | awk 'NF { print $1, $1; for (i = 2; i <= NF; i++) if ($i != "*") print $i, $1 }' \
    | tsort >/dev/null 2>"$loops"; then
    echo "房间之间的包含关系绕成了圈：" >&2
    grep -v 'input contains a loop' "$loops" | sed 's/^tsort: /  /' >&2
    failed=1
fi

# The same for files: a header and its source are one unit, and no unit may reach itself
# through the units it includes. Units named together here are one idea in two files: the
# script engine's Value holds objects, and an object's members take and give Values.
together='
server/engine/Object  server/engine/Value
'
if ! includes | awk -F'\t' -v together="$together" '
    BEGIN {
        n = split(together, lines, "\n")
        for (i = 1; i <= n; i++)
            if (split(lines[i], w, " ") == 2) same[w[1]] = w[2]
    }
    $4 != "<" && $3 ~ /\// {
        from = $1; to = $3
        sub(/\.[^.\/]*$/, "", from); sub(/\.[^.\/]*$/, "", to)
        if (from in same) from = same[from]
        if (to in same) to = same[to]
        if (from != to) print to, from
    }' | tsort >/dev/null 2>"$loops"; then
    echo "文件之间的包含关系绕成了圈：" >&2
    grep -v 'input contains a loop' "$loops" | sed 's/^tsort: /  /' >&2
    failed=1
fi

if ((failed)); then
    echo "有房间包含了它没有链接的房间的头文件，或者包含关系绕成了圈" >&2
    exit 1
fi
