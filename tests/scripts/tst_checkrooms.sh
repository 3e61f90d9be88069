#!/usr/bin/env bash
# The room check against small trees of its own: each case writes a few files that break one
# rule and expects the check to fail naming it; a tree that keeps the rules passes.
# Usage: tst_checkrooms.sh scripts/check-rooms.sh
set -euo pipefail
check=$(realpath "$1")
failures=0

# refuses NAME EXPECTED FILE CONTENT [FILE CONTENT ...]
refuses() {
    local name=$1 expected=$2
    shift 2
    local tree
    tree=$(mktemp -d)
    while (($#)); do
        mkdir -p "$tree/$(dirname "$1")"
        printf '%s\n' "$2" >"$tree/$1"
        shift 2
    done
    if output=$("$check" "$tree" 2>&1); then
        echo "FAIL: $name: the check passed" >&2
        failures=$((failures + 1))
    elif ! grep -qF -- "$expected" <<<"$output"; then
        echo "FAIL: $name: expected “$expected” in:" >&2
        printf '%s\n' "$output" >&2
        failures=$((failures + 1))
    else
        echo "PASS: $name"
    fi
    rm -rf "$tree"
}

refuses "a room includes a room it does not link" "archive/A.cpp:2: archive 没有链接 widgets" \
    archive/A.cpp $'#include "formats/Gbk.h"\n#include "widgets/Dialogs.h"'
refuses "the site's pages reach for a window" "web/SitePages.cpp:1: web/SitePages 没有链接 widgets" \
    web/SitePages.cpp '#include "widgets/Dialogs.h"' \
    web/WebSettingsWindow.cpp '#include "widgets/Dialogs.h"'
refuses "a form names a widget of a room not linked" "app/W.ui:1: app 没有链接 server" \
    app/W.ui '<header>server/SiteServer.h</header>'
refuses "SQLite outside the archive" "server/main.cpp:1: server 没有链接 sqlite3.h" \
    server/main.cpp '#include <sqlite3.h>'
refuses "libmdb in the parent process" "archive/DatabaseConnection.cpp:1: archive 没有链接 mdbtools.h" \
    archive/DatabaseConnection.cpp '#include <mdbtools.h>'
refuses "a header of a room that is gone" "不属于任何房间的头文件 platform/Gbk.h" \
    app/A.cpp '#include "platform/Gbk.h"'
refuses "a folder no room knows" "printing/Page.cpp: 这个文件不属于任何一个房间" \
    printing/Page.cpp '#include "formats/Length.h"'
refuses "files round a circle" "文件之间的包含关系绕成了圈" \
    archive/A.cpp '#include "archive/B.h"' archive/A.h '' \
    archive/B.cpp '#include "archive/C.h"' archive/B.h '' \
    archive/C.cpp '#include "archive/A.h"' archive/C.h ''

tree=$(mktemp -d)
mkdir -p "$tree/archive" "$tree/server" "$tree/tests/archive"
printf '#include "formats/Gbk.h"\n#include <sqlite3.h>\n' >"$tree/archive/A.cpp"
printf '#include "archive/A.h"\n#include "server/engine/Value.h"\n' >"$tree/server/main.cpp"
printf '#include "widgets/Dialogs.h"\n#include <sqlite3.h>\n' >"$tree/tests/archive/tst_a.cpp"
if output=$("$check" "$tree" 2>&1); then
    echo "PASS: a tree that keeps the rules"
else
    echo "FAIL: a tree that keeps the rules was refused:" >&2
    printf '%s\n' "$output" >&2
    failures=$((failures + 1))
fi
rm -rf "$tree"

exit $((failures > 0))
