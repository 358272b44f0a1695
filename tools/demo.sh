#!/usr/bin/env bash
# The main job: builds ORVSVC.exe and runs it as a Windows service in a throw-away Wine
# prefix, shows what it does, then stops and removes it.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-deps.sh
cmake --preset windows >/dev/null
cmake --build --preset windows
exec python3 tools/demo.py build/windows/bin build/windows
