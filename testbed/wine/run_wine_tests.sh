#!/bin/sh
# Runs the wine-tier unittest files against a built ORVSVC.exe.
#   run_wine_tests.sh BIN_DIR BUILD_DIR [unittest args...]
# BIN_DIR holds ORVSVC.exe and svcctl.exe; the throw-away Wine prefix goes
# under BUILD_DIR/wine. Exit status is unittest's (124 when the whole run hit
# the time-out). WINE_TESTS_TIMEOUT overrides the limit in seconds.
set -eu

if [ $# -lt 2 ]; then
    echo "usage: $0 BIN_DIR BUILD_DIR [unittest args...]" >&2
    exit 2
fi
bin_dir=$(cd "$1" && pwd)
build_dir=$(mkdir -p "$2" && cd "$2" && pwd)
shift 2

here=$(cd "$(dirname "$0")" && pwd)
limit=${WINE_TESTS_TIMEOUT:-600}

export ORVSVC_BIN_DIR="$bin_dir"
export ORVSVC_BUILD_DIR="$build_dir"
export PYTHONDONTWRITEBYTECODE=1

# timeout sends TERM first (the harness then shuts its prefix down) and KILL
# 30 s later; the harness's wineserver dies with the test process either way.
cd "$here"
set +e
timeout -k 30 "$limit" python3 -m unittest discover -s "$here/tests" -t "$here/tests" -p 'test_*.py' "$@"
status=$?
set -e
if [ "$status" -eq 124 ]; then
    echo "wine tests: time-out after ${limit}s" >&2
fi
exit "$status"
