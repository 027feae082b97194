#!/bin/sh
# test-share.sh - the share of test code: lines of the C, C++, shell and Python files under
# tests/, and of the fuzz targets' C and C++ files under fuzz/, against those of the C and C++
# files under src/, tracked files only. The project keeps it at or under 0.35.
set -eu
cd "$(git -C "$(dirname "$0")" rev-parse --show-toplevel)"
count() { git ls-files -z -- "$@" | xargs -0 cat -- 2>/dev/null | wc -l; }
tests=$(count 'tests/*.c' 'tests/*.cpp' 'tests/*.h' 'tests/*.hpp' 'tests/*.sh' 'tests/*.py' \
  'fuzz/*.c' 'fuzz/*.cpp' 'fuzz/*.h')
src=$(count 'src/*.c' 'src/*.cpp' 'src/*.h' 'src/*.hpp')
echo "tests/src = $tests/$src = $(awk "BEGIN { printf \"%.2f\", $tests / $src }")"
