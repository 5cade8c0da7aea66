#!/usr/bin/env bash
# Builds kelm-demo.exe and runs it under Wine: the kelm window, working on a simulated board
# whose flash is build/windows/kelm-demo-flash.bin (made with a sample catalogue on the first
# run; delete it to start afresh). Without an X display (a server, a container) the window opens
# on a virtual one (xvfb-run), where it runs until stopped with Ctrl+C.
# Wine's prefix is WINEPREFIX if set, else its default (~/.wine); the first run creates it.
set -euo pipefail

cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake --preset windows
cmake --build --preset windows

exe=build/windows/kelm-demo.exe
# Quiet Wine, and do not let it offer to download Mono or Gecko: kelm needs neither.
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

# The prefix first, so that the dialog's fonts can be linked into it.
prefix=${WINEPREFIX:-$HOME/.wine}
if [[ ! -d "$prefix/drive_c/windows" ]]; then
    wineboot -i </dev/null >/dev/null 2>&1 || true
fi
bash scripts/wine-fonts.sh "$prefix"

if [[ -n "${DISPLAY:-}" ]]; then
    exec wine "$exe"
fi
echo "run.sh: no DISPLAY; kelm runs on a virtual X display (stop it with Ctrl+C)"
echo "run.sh: to watch it work, see the screenshots of bash tests/e2e/run_e2e.sh (build/e2e/)"
exec xvfb-run -a -s "-screen 0 1024x768x24" wine "$exe"
