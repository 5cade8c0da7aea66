#!/usr/bin/env bash
# Builds kelm.exe and runs it under Wine. Without an X display (a server, a container) the window
# opens on a virtual one (xvfb-run), where it runs until stopped with Ctrl+C.
# Wine's prefix is WINEPREFIX if set, else its default (~/.wine); the first run creates it.
set -euo pipefail

cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake --preset windows
cmake --build --preset windows

exe=build/windows/kelm.exe
# Quiet Wine, and do not let it offer to download Mono or Gecko: kelm needs neither.
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

if [[ -n "${DISPLAY:-}" ]]; then
    exec wine "$exe"
fi
echo "run.sh: no DISPLAY; kelm runs on a virtual X display (stop it with Ctrl+C)"
exec xvfb-run -a -s "-screen 0 1024x768x24" wine "$exe"
