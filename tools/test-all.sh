#!/usr/bin/env bash
# Runs every test tier: host (GCC), host (clang) with AddressSanitizer and UBSan, the fuzzers for
# a short while (built in the same sanitized tree), the Windows cross build and the wine tier (the
# real ORVSVC.exe as a service; its tests run two at a time).
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-deps.sh

failed=()
tier() {
  local name=$1; shift
  local started=$SECONDS
  echo "=== ${name}"
  if "$@"; then
    echo "=== ${name}: passed in $((SECONDS - started)) s"
  else
    echo "=== ${name}: FAILED after $((SECONDS - started)) s"
    failed+=("$name")
  fi
}

preset() {  # configure, build, test one preset; further arguments go to ctest (default -j2)
  local name=$1; shift
  local args=("$@")
  ((${#args[@]})) || args=(-j2)
  cmake --preset "$name" >/dev/null && cmake --build --preset "$name" && ctest --preset "$name" "${args[@]}"
}

# The Windows cross build needs nothing of the native tiers. It starts once the host build is
# done and runs beside the native tests, which spend most of their time waiting on threads, at a
# lower priority, so it mostly takes the time they leave; its output is shown with its tier.
windows_log=build/windows-build.log
windows_pid=
windows_build() { cmake --preset windows >/dev/null && nice -n 10 cmake --build --preset windows; }
start_windows_build() {
  mkdir -p build
  windows_build >"$windows_log" 2>&1 &
  windows_pid=$!
}
windows_and_wine() {
  if [[ -n $windows_pid ]]; then
    local built=0
    wait "$windows_pid" || built=$?
    cat "$windows_log"
    ((built == 0)) || return "$built"
  else
    windows_build || return
  fi
  ctest --preset windows -j2
}

# The host suite once, then the tests that run code on more than one thread five times over,
# four at a time, each in a fresh process: one that asserts an effect on another thread without
# waiting for it shows up here, not in a later run. The others are deterministic.
host_suite() {
  cmake --preset host >/dev/null && cmake --build --preset host || return
  start_windows_build
  ctest --preset host -j4 -LE threads && ctest --preset host -L threads --repeat until-fail:5 -j4
}
tier host host_suite
# One sanitized tree (clang) holds the host tests and the fuzzers: the core is built once for both.
tier host-asan preset host-asan -j2 -LE fuzz
tier fuzz ctest --preset host-asan -j2 -L fuzz
tier windows-and-wine windows_and_wine

if ((${#failed[@]})); then
  echo "FAILED tiers: ${failed[*]}"
  exit 1
fi
echo "All tiers passed."
