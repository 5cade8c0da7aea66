#!/usr/bin/env bash
# Builds and runs every test of kelm:
#   1. the host build (the program against the Win32 stand-in and the simulated board, and
#      kelmtool) with AddressSanitizer and UndefinedBehaviorSanitizer, and all its tests; then
#      kelmtool alone as a user builds and installs it;
#   2. the input report monitor's tests again under ThreadSanitizer;
#   3. kelm.exe cross-compiled with MinGW-w64, and checks of what it is: a 64-bit GUI program
#      that imports SetupAPI, not HID.DLL (loaded by name at run time), and no MinGW DLL;
#   4. the window-free tests of that Windows build, run under Wine;
#   5. line coverage of src/, core/ and tool/ by the host tests (gcov, gcovr), against a floor;
#   6. each fuzz target (libFuzzer, ASan, UBSan) for 60 seconds.
#   7. kelm-demo.exe (kelm.exe checked to hold nothing of it) and the end-to-end tests: the
#      demo under Wine and Xvfb, worked from outside.
#   8. the packages (scripts/package.sh): the kelmtool .deb and the Windows zip, checked.
#   9. the web page (scripts/web.sh build): the site with the engine in WebAssembly, and its
#      tests in a headless Chromium (tests/web/, node --test), each test counted.
# Goes on after a failure so that one run shows them all; exits non-zero if anything failed.
# The last line counts every test and check: "summary: N passed, M failed".
#
# --quick: step 1's host build and its tests only, for day-to-day work.
set -uo pipefail

quick=0
if [[ "${1:-}" == "--quick" ]]; then
    quick=1
elif [[ $# -gt 0 ]]; then
    echo "usage: scripts/test.sh [--quick]" >&2
    exit 2
fi

cd "$(dirname "$0")/.." || exit 1

passed=0
failed=0
failures=()

fail() {
    failed=$((failed + 1))
    failures+=("$1")
    echo "FAILED: $1"
}

check() {  # check NAME COMMAND...: one counted check
    local name=$1
    shift
    if "$@"; then
        passed=$((passed + 1))
        echo "ok: $name"
    else
        fail "$name"
    fi
}

lacks() {  # lacks REGEX TEXT: no line of TEXT is wholly REGEX
    ! grep -Eqx "$1" <<<"$2"
}

step() {  # step NAME COMMAND...: a build step, counted only when it fails
    local name=$1
    shift
    echo "==> $name: $*"
    "$@" || { fail "$name"; return 1; }
}

# run_ctest PRESET: runs the preset's tests and adds their count to the totals.
run_ctest() {
    local log
    log=$(mktemp)
    echo "==> ctest --preset $1"
    ctest --preset "$1" 2>&1 | tee "$log"
    local status=${PIPESTATUS[0]}
    local line
    line=$(grep -E '[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)
    rm -f "$log"
    if [[ -z "$line" ]]; then
        fail "ctest --preset $1 (no tests ran)"
        return
    fi
    local bad total
    bad=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$line")
    total=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\2/' <<<"$line")
    passed=$((passed + total - bad))
    failed=$((failed + bad))
    if [[ $bad -gt 0 ]]; then
        failures+=("ctest --preset $1: $bad of $total tests")
    elif [[ $status -ne 0 ]]; then
        fail "ctest --preset $1 (exit status $status)"
    fi
}

bash scripts/install-deps.sh || { echo "summary: 0 passed, 1 failed"; exit 1; }

# 1. Host build, ASan + UBSan.
if step "host: configure" cmake --preset host &&
    step "host: build" cmake --build --preset host -j 2; then
    run_ctest host
fi

# The engine of core/ stays portable: no platform header, and it compiles with clang as with
# g++ (and with emscripten's em++ where it is installed, as the web page's build has it).
core_compiles() {  # core_compiles COMPILER: every core/*.cpp, syntax only, warnings as errors
    local source
    for source in core/*.cpp; do
        "$1" -std=c++17 -fsyntax-only -Wall -Wextra -Werror -I src -I . -I build/host/generated \
            "$source" || return 1
    done
}
check "core/ includes no platform header" \
    lacks '.*#include *<(windows|hidapi|CLI|nlohmann|unistd|fcntl|sys/|thread|mutex|chrono|fstream|iostream).*' \
    "$(cat core/*.h core/*.cpp)"
check "core/ compiles with clang" core_compiles clang++
if command -v em++ >/dev/null 2>&1; then
    check "core/ compiles with emscripten" core_compiles em++
fi

finish() {
    echo
    if [[ ${#failures[@]} -gt 0 ]]; then
        echo "Failures:"
        printf '  %s\n' "${failures[@]}"
    fi
    echo "summary: $passed passed, $failed failed"
    [[ $failed -eq 0 ]]
    exit
}
[[ $quick -eq 1 ]] && finish

# 1b. kelmtool alone, as a user builds and installs it: optimised, no sanitizers.
tool_prefix=build/kelmtool-install
if step "kelmtool: configure" cmake --preset kelmtool &&
    step "kelmtool: build" cmake --build --preset kelmtool -j 2; then
    rm -rf "$tool_prefix"
    check "kelmtool: cmake --install puts it in bin/" \
        cmake --install build/kelmtool --prefix "$tool_prefix"
    check "kelmtool: the installed program runs" "$tool_prefix/bin/kelmtool" --version
    check "kelmtool: cmake --install puts the udev rule and the completions under share/" \
        test -f "$tool_prefix/share/kelmtool/60-kelm.rules" -a \
        -f "$tool_prefix/share/bash-completion/completions/kelmtool" -a \
        -f "$tool_prefix/share/zsh/site-functions/_kelmtool" -a \
        -f "$tool_prefix/share/fish/vendor_completions.d/kelmtool.fish"
fi

# 2. The tests of threaded code under ThreadSanitizer: the monitor's and those of kelmtool's
# boards side by side (the names cmake/host.cmake's KELM_THREADED_TESTS gives). Only their
# programs (<area>_threaded_tests, one per folder of tests/ that has such files) are built;
# kelmtool's with the kelmtool they run, built with ThreadSanitizer too.
threaded_targets=()
for folder in tests/*/; do
    area=$(basename "$folder")
    if compgen -G "${folder}*monitor*_test.cpp" >/dev/null ||
        compgen -G "${folder}*many_boards*_test.cpp" >/dev/null; then
        threaded_targets+=("${area}_threaded_tests")
    fi
done
if [[ ${#threaded_targets[@]} -eq 0 ]]; then
    fail "host-tsan: no threaded tests in tests/*/*monitor*_test.cpp or *many_boards*_test.cpp"
elif step "host-tsan: configure" cmake --preset host-tsan &&
    step "host-tsan: build" cmake --build --preset host-tsan -j 2 --target "${threaded_targets[@]}"; then
    run_ctest host-tsan
fi

# 3. kelm.exe.
exe=build/windows/kelm.exe
if step "windows: configure" cmake --preset windows &&
    step "windows: build" cmake --build --preset windows -j 2; then
    if [[ -f "$exe" ]] && headers=$(x86_64-w64-mingw32-objdump -p "$exe"); then
        imports=$(grep -i 'DLL Name:' <<<"$headers" | awk '{print tolower($3)}' | sort -u)
        echo "kelm.exe imports: $(tr '\n' ' ' <<<"$imports")"
        check "kelm.exe is PE32+" grep -Eq '^Magic[[:space:]]+020b' <<<"$headers"
        check "kelm.exe is a Windows GUI program" \
            grep -Eq '^Subsystem[[:space:]]+0+2[[:space:]]' <<<"$headers"
        check "kelm.exe imports SetupAPI" grep -qx 'setupapi.dll' <<<"$imports"
        check "kelm.exe does not import HID.DLL" lacks 'hid\.dll' "$imports"
        check "kelm.exe needs no MinGW DLL" lacks '(libgcc|libstdc|libwinpthread).*' "$imports"
    else
        fail "windows: $exe missing or unreadable"
    fi
fi

# kelmtool.exe, built by the same preset: a 64-bit console program, HID.DLL loaded by name, no
# MinGW DLL. Its command scenarios run under Wine with the tests of step 4.
tool_exe=build/windows/kelmtool.exe
if [[ -f "$tool_exe" ]] && tool_headers=$(x86_64-w64-mingw32-objdump -p "$tool_exe"); then
    tool_imports=$(grep -i 'DLL Name:' <<<"$tool_headers" | awk '{print tolower($3)}' | sort -u)
    echo "kelmtool.exe imports: $(tr '\n' ' ' <<<"$tool_imports")"
    check "kelmtool.exe is PE32+" grep -Eq '^Magic[[:space:]]+020b' <<<"$tool_headers"
    check "kelmtool.exe is a console program" \
        grep -Eq '^Subsystem[[:space:]]+0+3[[:space:]]' <<<"$tool_headers"
    check "kelmtool.exe does not import HID.DLL" lacks 'hid\.dll' "$tool_imports"
    check "kelmtool.exe needs no MinGW DLL" lacks '(libgcc|libstdc|libwinpthread).*' "$tool_imports"
else
    fail "windows: $tool_exe missing or unreadable"
fi

# 4. The window-free tests of the Windows build (report layouts, slot headers, placement, file
# lengths), under Wine with a prefix of their own. The prefix is made once (Wine's first start
# takes a while); one persistent wineserver serves every test, and wineboot starts Wine's
# background processes before the tests do, all with every standard handle on /dev/null: started
# by a test, they would hold its output pipe and keep ctest waiting (cmake/windows_tests.cmake
# does the same when ctest runs alone).
wine_env=(env WINEDEBUG=-all WINEPREFIX="$PWD/build/windows/wineprefix")
wine_up() {
    "${wine_env[@]}" wineserver -k </dev/null >/dev/null 2>&1  # left over from an earlier ctest
    mkdir -p build/windows/wineprefix &&
        timeout 60 "${wine_env[@]}" wineserver -w </dev/null >/dev/null 2>&1 &&
        "${wine_env[@]}" wineserver -p </dev/null >/dev/null 2>&1 &&
        timeout 600 "${wine_env[@]}" wineboot </dev/null >/dev/null 2>&1
}
started=$SECONDS
if ! compgen -G "build/windows/*_windows_tests.exe" >/dev/null; then
    fail "windows tests: no build/windows/*_windows_tests.exe"
elif step "windows tests: start Wine" wine_up; then
    run_ctest windows
fi
"${wine_env[@]}" wineserver -k </dev/null >/dev/null 2>&1
echo "time: windows tests $((SECONDS - started)) s"

# 5. Line coverage of src/, core/ and tool/ by the host tests: gcc --coverage without sanitizers,
# gcovr's line summary for those three only. At least 90 %, and never below
# tests/coverage_floor.txt, the figure last landed (rounded down to one decimal; raise it when
# the figure rises).
coverage_check() {
    local summary line covered total percent floor
    # The report itself goes to a scratch file: gcovr replaces its output file, and /dev/null
    # must stay the device it is.
    local report
    report=$(mktemp)
    summary=$(gcovr --root . --filter 'src/' --filter 'tool/' --filter 'core/' \
        --object-directory build/coverage \
        --print-summary \
        -o "$report" 2>/dev/null)
    local status=$?
    rm -f "$report"
    [[ $status -eq 0 ]] || { fail "coverage: gcovr failed"; return; }
    line=$(grep -E '^lines: ' <<<"$summary")
    echo "coverage of src/, core/ and tool/: $line"
    covered=$(sed -nE 's/.*\(([0-9]+) out of ([0-9]+)\).*/\1/p' <<<"$line")
    total=$(sed -nE 's/.*\(([0-9]+) out of ([0-9]+)\).*/\2/p' <<<"$line")
    if [[ -z "$covered" || -z "$total" || "$total" -eq 0 ]]; then
        fail "coverage: no line summary for src/ and tool/"
        return
    fi
    percent=$(awk -v c="$covered" -v t="$total" 'BEGIN { printf "%.1f", int(1000 * c / t) / 10 }')
    floor=$(tr -d '[:space:]' <tests/coverage_floor.txt)
    check "coverage of src/, core/ and tool/ is at least 90% ($percent%)" \
        awk -v p="$percent" 'BEGIN { exit !(p >= 90) }'
    check "coverage of src/, core/ and tool/ is not below the floor of $floor% ($percent%)" \
        awk -v p="$percent" -v f="$floor" 'BEGIN { exit !(p >= f) }'
    if awk -v p="$percent" -v f="$floor" 'BEGIN { exit !(p > f) }'; then
        echo "coverage: $percent% is above the floor: put $percent into tests/coverage_floor.txt"
    fi
}
started=$SECONDS
if step "coverage: configure" cmake --preset coverage &&
    step "coverage: build" cmake --build --preset coverage -j 2; then
    find build/coverage -name '*.gcda' -delete
    coverage_log=$(mktemp)
    # The same tests as step 1, counted there: here they only have to pass.
    if ctest --preset coverage >"$coverage_log" 2>&1; then
        check "coverage: the host tests pass" true
        coverage_check
    else
        grep -E 'tests passed|\(Failed\)|\(Timeout\)|Exception' "$coverage_log"
        fail "coverage: the host tests fail"
    fi
    rm -f "$coverage_log"
fi
echo "time: coverage $((SECONDS - started)) s"

# 6. Fuzzing: each target 60 s from its seeds in fuzz/corpus/ (scripts/fuzz.sh); a crash fails.
started=$SECONDS
mapfile -t fuzz_targets < <(bash scripts/fuzz.sh --list)
fuzz_log=$(mktemp)
bash scripts/fuzz.sh 60 "${fuzz_targets[@]}" 2>&1 | tee "$fuzz_log"
for target in "${fuzz_targets[@]}"; do
    check "fuzz: $target" grep -Eq "^fuzz: $target: [0-9]+ executions in [0-9]+ s, no crash$" \
        "$fuzz_log"
done
rm -f "$fuzz_log"
echo "time: fuzzing $((SECONDS - started)) s"

# 7. kelm-demo.exe, the program on the simulated board: kelm.exe must hold nothing of it, and the
# end-to-end tests run the demo under Wine on a virtual display, worked from outside by
# kelm-e2e-driver.exe (tests/e2e/run_e2e.sh; screenshots in build/e2e/screenshots/). Every Wine
# program there has a time limit, and the whole run one here: a hung Wine cannot hang CI. Its Wine
# is stopped inside the pipe to tee, so that nothing of it can hold the pipe once the run ended,
# even a run ended by its time limit.
started=$SECONDS
kelm_exe=build/windows/kelm.exe
demo_exe=build/windows/kelm-demo.exe
if [[ -f "$kelm_exe" && -f "$demo_exe" ]]; then
    check "kelm.exe holds no symbol of the demo or the simulated board" \
        lacks '.*(Demo[A-Z]|3sim5Board|kelm_demo).*' "$(x86_64-w64-mingw32-nm "$kelm_exe" 2>&1)"
    check "kelm.exe does not name the demo's flash file" \
        lacks '.*kelm-demo-flash\.bin.*' "$(strings "$kelm_exe")"
    demo_imports=$(x86_64-w64-mingw32-objdump -p "$demo_exe" | grep -i 'DLL Name:' |
        awk '{print tolower($3)}' | sort -u)
    check "kelm-demo.exe does not import HID.DLL" lacks 'hid\.dll' "$demo_imports"
    e2e_log=$(mktemp)
    { timeout -k 30 900 bash tests/e2e/run_e2e.sh build/windows build/e2e
      env WINEPREFIX="$PWD/build/e2e/wineprefix" wineserver -k </dev/null >/dev/null 2>&1; } 2>&1 |
        tee "$e2e_log"
    e2e_line=$(grep -E '^e2e: [0-9]+ passed, [0-9]+ failed$' "$e2e_log" | tail -n 1)
    rm -f "$e2e_log"
    if [[ -z "$e2e_line" ]]; then
        fail "e2e: no result (tests/e2e/run_e2e.sh failed or timed out)"
    else
        e2e_passed=$(sed -E 's/^e2e: ([0-9]+) passed.*/\1/' <<<"$e2e_line")
        e2e_failed=$(sed -E 's/.* ([0-9]+) failed$/\1/' <<<"$e2e_line")
        passed=$((passed + e2e_passed))
        failed=$((failed + e2e_failed))
        [[ $e2e_failed -eq 0 ]] || failures+=("e2e: $e2e_failed scenarios")
    fi
else
    fail "demo: $kelm_exe or $demo_exe missing"
fi
echo "time: end-to-end tests $((SECONDS - started)) s"

holds_all() {  # holds_all LISTING LINE...: every LINE is a line of LISTING
    local listing=$1 line
    shift
    for line in "$@"; do
        grep -qxF -- "$line" <<<"$listing" || return 1
    done
}

# 8. The packages of scripts/package.sh: the .deb checked by lintian, extracted (never installed)
# and its kelmtool run from there through the command scenarios; the Windows zip listed and its
# kelmtool.exe run under Wine, its output read from a file.
started=$SECONDS
if step "packages: build" bash scripts/package.sh; then
    version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/kelmtool/CMakeCache.txt)
    deb=build/package/kelmtool_${version}_$(dpkg --print-architecture).deb
    zip=build/package/kelm-${version}-windows-x64.zip
    unpacked=build/package/check
    rm -rf "$unpacked" && mkdir -p "$unpacked"
    lintian --fail-on error "$deb" >"$unpacked/lintian.txt" 2>&1
    lintian_status=$?
    sed 's/^/lintian: /' "$unpacked/lintian.txt"
    check "kelmtool .deb: lintian finds no error" \
        eval '[[ $lintian_status -eq 0 ]] && lacks "E: .*" "$(cat "$unpacked/lintian.txt")"'
    deb_files=$(dpkg-deb -c "$deb" | awk '{print $6}')
    check "kelmtool .deb: program, udev rule, manual page, completions, README, copyright" \
        holds_all "$deb_files" ./usr/bin/kelmtool ./usr/lib/udev/rules.d/60-kelm.rules \
        ./usr/share/man/man1/kelmtool.1.gz ./usr/share/doc/kelmtool/README.md.gz \
        ./usr/share/doc/kelmtool/copyright ./usr/share/bash-completion/completions/kelmtool \
        ./usr/share/zsh/vendor-completions/_kelmtool \
        ./usr/share/fish/vendor_completions.d/kelmtool.fish
    check "kelmtool .deb: depends on libhidapi-hidraw0 and the C++ runtime" \
        eval 'dpkg-deb -f "$deb" Depends | grep -q "libhidapi-hidraw0" &&
              dpkg-deb -f "$deb" Depends | grep -q "libstdc++6"'
    if dpkg-deb -x "$deb" "$unpacked/deb"; then
        check "extracted kelmtool --version is $version" \
            eval '[[ "$("$unpacked/deb/usr/bin/kelmtool" --version)" == "kelmtool $version" ]]'
        check "extracted kelmtool: the command scenarios on --sim files" \
            bash tests/cli/scenarios.sh "$unpacked/scenarios" src/data/vgc_block.bin \
            "$PWD/$unpacked/deb/usr/bin/kelmtool"
    else
        fail "kelmtool .deb: dpkg-deb -x failed"
    fi
    zip_files=$(unzip -Z1 "$zip")
    check "windows zip: kelm.exe, kelmtool.exe, README.txt, INSTALL.txt" \
        holds_all "$zip_files" "kelm-$version-windows-x64/"{kelm.exe,kelmtool.exe,README.txt,INSTALL.txt}
    if ! unzip -q "$zip" -d "$unpacked/zip"; then
        fail "windows zip: cannot unpack it"
    # A server left running would make wine_up's "wineserver -p" fail.
    elif ! { "${wine_env[@]}" wineserver -k 2>/dev/null; wine_up; }; then
        fail "windows zip: Wine does not start"
    else
        timeout 120 "${wine_env[@]}" wine "$unpacked/zip/kelm-$version-windows-x64/kelmtool.exe" \
            --version </dev/null >"$unpacked/wine-version.txt" 2>&1
        echo "zipped kelmtool.exe --version under Wine: exit $?"
        check "zipped kelmtool.exe --version under Wine is $version" \
            grep -qx "kelmtool $version" <(tr -d '\r' <"$unpacked/wine-version.txt")
    fi
    "${wine_env[@]}" wineserver -k 2>/dev/null
fi
echo "time: packages $((SECONDS - started)) s"

# 9. The web page: build/web/site/ built by emscripten (scripts/web.sh build, which also installs
# the npm packages of package-lock.json), then its tests under node --test, each in a headless
# Chromium of its own against the site on a loopback port and the HID stand-in, compared with
# step 1's kelmtool. Every test is counted; a run that hangs is ended.
started=$SECONDS
if step "web: build" bash scripts/web.sh build; then
    web_log=$(mktemp)
    KELMTOOL="$PWD/build/host/kelmtool" timeout -k 30 1800 node --test --test-reporter=tap tests/web/ 2>&1 |
        tee "$web_log"
    web_passed=$(sed -nE 's/^# pass ([0-9]+)$/\1/p' "$web_log" | tail -n 1)
    web_failed=$(sed -nE 's/^# fail ([0-9]+)$/\1/p' "$web_log" | tail -n 1)
    web_cancelled=$(sed -nE 's/^# cancelled ([0-9]+)$/\1/p' "$web_log" | tail -n 1)
    rm -f "$web_log"
    if [[ -z "$web_passed" || -z "$web_failed" ]]; then
        fail "web: no result (node --test tests/web/ failed or timed out)"
    else
        web_failed=$((web_failed + ${web_cancelled:-0}))
        passed=$((passed + web_passed))
        failed=$((failed + web_failed))
        [[ $web_failed -eq 0 ]] || failures+=("web: $web_failed tests")
    fi
fi
echo "time: web page $((SECONDS - started)) s"

finish
