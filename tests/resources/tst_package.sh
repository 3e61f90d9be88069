#!/usr/bin/env bash
# The Debian package as a school gets it: cpack writes it from the build; it holds a Linux
# program (bin/qinghe, its helpers in lib/qinghe, the site's pages in share/qinghe, menu
# entry, AppStream description, manual pages, icons) and no archive; its Depends come from the
# libraries; the entry and the description pass their validators; and the program runs from a
# throwaway root with a fresh home, making its archive in the home and nothing in the root.
# Usage: tst_package.sh BUILD-FOLDER VERSION
set -euo pipefail
build=$(realpath "$1")
version=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

if ! cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log" >&2
    echo "FAIL: cpack wrote no package" >&2
    exit 1
fi
deb=$(echo "$work"/out/qinghe_"$version"_*.deb)
[ -f "$deb" ] || { echo "FAIL: no package qinghe_${version}_*.deb in $work/out" >&2; exit 1; }

contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
for path in usr/bin/qinghe usr/lib/qinghe/asp usr/lib/qinghe/qinghe-jet-reader usr/lib/qinghe/qinghe-initdb \
    usr/share/qinghe/DB/login.asp usr/share/qinghe/DB/show.asp usr/share/qinghe/DB/up.asp \
    usr/share/qinghe/DB/print.js usr/share/qinghe/DB/nophoto.png \
    usr/share/qinghe/DB/index.asp usr/share/qinghe/DB/h2.asp \
    usr/share/applications/qinghe.desktop usr/share/metainfo/cn.qinghe.Qinghe.metainfo.xml \
    usr/share/man/man1/qinghe.1 usr/share/man/man1/qinghe-asp.1 usr/share/man/man1/qinghe-initdb.1 \
    usr/share/icons/hicolor/256x256/apps/qinghe.png usr/share/icons/hicolor/scalable/apps/qinghe.svg; do
    grep -qx "\./$path" <<<"$contents" || fail "the package lacks /$path"
done
# An archive, its journals or a backup in the package would be every school's one archive.
if grep -E '\.mdb$|-wal$|-shm$|-journal$|备份' <<<"$contents"; then
    fail "the package holds an archive"
fi

depends=$(dpkg-deb -f "$deb" Depends)
for package in libqt6core6 libqt6widgets6 libsqlite3-0 libpq5 opencv-data fonts-noto-cjk; do
    grep -q "\b$package\b" <<<"$depends" || fail "Depends lacks $package: $depends"
done

root="$work/root"
dpkg -x "$deb" "$root"
desktop-file-validate "$root/usr/share/applications/qinghe.desktop" || fail "desktop-file-validate"
appstreamcli validate --no-net "$root/usr/share/metainfo/cn.qinghe.Qinghe.metainfo.xml" >"$work/appstream.log" 2>&1 \
    || { cat "$work/appstream.log" >&2; fail "appstreamcli validate"; }
[ "$(sed -n 's/^Exec=//p' "$root/usr/share/applications/qinghe.desktop")" = qinghe ] \
    || fail "the menu entry does not start qinghe from PATH"

# Runs a program of the package as a fresh user would, with no display.
home="$work/home"
mkdir "$home"
as_user() {
    env -i PATH=/usr/bin:/bin HOME="$home" LANG=C.UTF-8 ${LSAN_OPTIONS:+LSAN_OPTIONS="$LSAN_OPTIONS"} "$@"
}
before=$(cd "$root" && find . | sort)
for program in usr/bin/qinghe usr/lib/qinghe/asp usr/lib/qinghe/qinghe-initdb; do
    answer=$(as_user "$root/$program" --version) || fail "$program --version failed"
    [ "$answer" = "$(basename "$program") $version" ] || fail "$program --version said: $answer"
done
[ -z "$(ls -A "$home")" ] || fail "--version made $(ls -A "$home") in the home"

# The first start lays out the user's folder from the package's share/qinghe and makes the
# archive there: an archive with no students, so the command says so.
if as_user "$root/usr/bin/qinghe" cards --pdf "$work/cards.pdf" 2>"$work/cards.err"; then
    fail "cards printed from an empty archive"
fi
grep -q "数据库里没有学生" "$work/cards.err" || fail "cards said: $(cat "$work/cards.err")"
folder="$home/.local/share/qinghe"
for file in DB/学生信息.mdb DB/login.asp DB/index.asp; do
    [ -f "$folder/$file" ] || fail "the first start did not make $folder/$file"
done
[ "$(sqlite3 "$folder/DB/学生信息.mdb" 'select 密码 from 管理员')" = 514 ] || fail "the user's archive is not a new one"
[ "$(cd "$root" && find . | sort)" = "$before" ] || fail "running the program changed the root"

if [ "$failures" -ne 0 ]; then
    echo "$failures failures" >&2
    exit 1
fi
echo "the package $(basename "$deb") holds the program, installs and runs"
