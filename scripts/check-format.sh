#!/usr/bin/env bash
# Fails when a C++ source of the program is not laid out as .clang-format says, so that
# `make format` never turns into a change of thousands of lines in somebody's commit.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -d '' sources < <(find app records exchange cards web archive formats desktop widgets server bench tests tools \
    -type f \( -name '*.cpp' -o -name '*.h' \) -print0 | sort -z)
if ! clang-format --dry-run -Werror "${sources[@]}"; then
  echo "有源文件的排版与 .clang-format 不一致：请运行 make format 后再提交" >&2
  exit 1
fi
