#!/usr/bin/env bash
# Installs what building, testing and running kelm needs on Debian 12, and only what is missing.
# Run as root (or as a user with sudo). Quick and quiet when everything is there already.
set -euo pipefail

PACKAGES=(
    # the host build and its tests
    cmake ninja-build g++ pkg-config libgtest-dev libgmock-dev libbenchmark-dev clang-format
    # kelm.exe
    g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64
    # running kelm.exe: Wine on a virtual X display; xvfb-run needs xauth, and the dialog's
    # "MS Sans Serif" is found among Wine's own fonts
    wine wine64 fonts-wine xvfb xauth xdotool
    # fuzzing (clang's libFuzzer and sanitizer runtimes), line coverage, and GoogleTest's sources
    # for the tests of the Windows build
    clang gcovr googletest
    # kelmtool: hidapi's hidraw backend, CLI11 for its arguments, nlohmann-json for --json
    libhidapi-dev libcli11-dev nlohmann-json3-dev
    # kelmtool's completion scripts are checked by the shells they are for (bash is there)
    zsh fish
    # the packages (scripts/package.sh) and their checks: dpkg-shlibdeps, lintian, the zip
    dpkg-dev lintian zip unzip
    # the web page (scripts/web.sh): emscripten compiles the engine to WebAssembly, its tests
    # run in a headless Chromium
    emscripten chromium
)

# Node.js and npm for the web page's tests and emscripten: Debian's own, unless a Node.js of
# another origin (which brings its npm) is on the machine already.
if ! command -v node >/dev/null 2>&1; then
    PACKAGES+=(nodejs)
fi
if ! command -v npm >/dev/null 2>&1; then
    PACKAGES+=(npm)
fi

# libFuzzer's runtime comes in a package named after clang's major version: the one that matches
# the clang installed (or about to be: Debian 12's is 14).
clang_major=14
if command -v clang >/dev/null 2>&1; then
    clang_major=$(clang --version | sed -nE 's/.*clang version ([0-9]+).*/\1/p' | head -n 1)
fi
PACKAGES+=("libclang-rt-${clang_major:-14}-dev")

missing=()
for package in "${PACKAGES[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
    if [[ "$status" != "install ok installed" ]]; then
        missing+=("$package")
    fi
done

if [[ ${#missing[@]} -eq 0 ]]; then
    echo "install-deps: all ${#PACKAGES[@]} packages present"
    exit 0
fi

if [[ $(id -u) -eq 0 ]]; then
    as_root=()
elif command -v sudo >/dev/null 2>&1; then
    as_root=(sudo)
else
    echo "install-deps: missing ${missing[*]}; run this script as root" >&2
    exit 1
fi

echo "install-deps: installing ${missing[*]}"
# Another apt-get may be running (an unattended upgrade, a second shell): wait for its lock
# instead of failing.
apt_options=(-y -q --no-install-recommends -o DPkg::Lock::Timeout=900)
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -q -o DPkg::Lock::Timeout=900 update
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install "${apt_options[@]}" "${missing[@]}"
echo "install-deps: done"
