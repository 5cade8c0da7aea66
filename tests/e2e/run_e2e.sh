#!/usr/bin/env bash
# End-to-end tests: kelm.exe and kelm-demo.exe under Wine on a virtual X display, worked from
# outside by kelm-e2e-driver.exe under the same Wine, and the demo board's flash file checked
# from here. kelm.exe finds no board under Wine: its window as it starts, its answer to Connect,
# and its start with Wine's HID.DLL switched off are what it shows here.
#
#   bash tests/e2e/run_e2e.sh [BUILD-FOLDER [OUTPUT-FOLDER]]
#
# BUILD-FOLDER holds kelm.exe, kelm-demo.exe and kelm-e2e-driver.exe (default build/windows).
# Everything the run makes goes to OUTPUT-FOLDER (default build/e2e): the Wine prefix (made on
# the first run), a folder per program run (with the demo's flash file), the driver's logs and
# the screenshots.
# Each Wine program runs under `timeout`, its output going to a file: a step that times out says
# so in its log, and the run goes on. The last line is "e2e: N passed, M failed" and the exit
# status is non-zero when anything failed.
set -uo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
bin=$(realpath -m "${1:-$root/build/windows}")
out=$(realpath -m "${2:-$root/build/e2e}")

# Always a display of our own: nothing pops up on the user's screen, and no window manager is
# there to wait for.
if [[ -z "${KELM_E2E_DISPLAY_READY:-}" ]]; then
    exec env KELM_E2E_DISPLAY_READY=1 xvfb-run -a -s "-screen 0 1024x768x24" \
        bash "$0" "$bin" "$out"
fi

readonly SLOT=65536
readonly FLASH_SIZE=2097152
readonly STEP_TIMEOUT=120     # one driver run
readonly DEMO_TIMEOUT=600     # one demo run, which several driver runs work through
readonly DEMO_END_TIMEOUT=30  # a demo's end, once its last step has passed
readonly KILL_AFTER=10        # a program that outlives its time limit's TERM by this gets KILL

passed=0
failed=0
mkdir -p "$out/screenshots"
rm -f "$out"/screenshots/*.png

export WINEPREFIX="$out/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="  # no offer to install Mono or Gecko

winpath() {  # the Windows name of a Linux path (Wine's drive Z: is /)
    local path
    path=$(realpath -m "$1")
    printf 'Z:%s' "${path//\//\\}"
}

pass() { passed=$((passed + 1)); echo "ok: $1"; }
fail() { failed=$((failed + 1)); echo "FAILED: $1"; }

stop_wine() {
    timeout 30 wineserver -k </dev/null >/dev/null 2>&1
    timeout 30 wineserver -w </dev/null >/dev/null 2>&1 || true
}
trap stop_wine EXIT

# One server for the whole run, and Wine's own processes (services.exe, winedevice.exe,
# plugplay.exe, svchost.exe, rpcss.exe, explorer.exe) started by wineboot, before any program of
# the run, with every standard handle on /dev/null. Whichever program starts them passes them its
# handles, and they live as long as the server: started by a step, they would hold its output.
wine_up() {
    mkdir -p "$WINEPREFIX" &&
        timeout 60 wineserver -p </dev/null >/dev/null 2>&1 || return 1
    local init=()
    if [[ ! -f "$WINEPREFIX/system.reg" ]]; then
        echo "e2e: making the Wine prefix $WINEPREFIX"
        init=(-i)
    fi
    timeout 300 wineboot "${init[@]}" </dev/null >/dev/null 2>&1
}

prepare_prefix() {
    stop_wine  # whatever an earlier run, ended from outside, left behind
    wine_up || return 1
    # Windows drawn and hidden by Wine itself: without a window manager, a managed window that
    # hides waits two seconds for one, after every dialog and message box.
    local key='HKCU\Software\Wine\X11 Driver' value
    for value in Managed Decorated; do
        timeout 60 wine reg add "$key" /v "$value" /t REG_SZ /d N /f </dev/null >/dev/null 2>&1 ||
            return 1
    done
    # The dialog's own fonts, as on Windows.
    bash "$root/scripts/wine-fonts.sh" "$WINEPREFIX"
}

# After a scenario that failed with its demo still running: that demo is stopped with the rest of
# Wine, which is brought up again for the next scenario.
clear_up() {
    [[ -n "$demo_pid" ]] || return 0
    stop_wine
    wait "$demo_pid"
    demo_pid=""
    wine_up || echo "e2e: Wine could not be started again"
}

# ended_within SECONDS PID: the process has ended within SECONDS.
ended_within() {
    local tenths=0
    while kill -0 "$2" 2>/dev/null; do
        ((tenths < $1 * 10)) || return 1
        sleep 0.1
        tenths=$((tenths + 1))
    done
}

demo_pid=""
demo_exe=""
# start_demo FOLDER [PROGRAM]: a fresh copy of PROGRAM (kelm-demo.exe unless named) in FOLDER,
# started in the background.
start_demo() {
    demo_exe=${2:-kelm-demo.exe}
    mkdir -p "$1"
    cp "$bin/$demo_exe" "$1/"
    (cd "$1" &&
        exec timeout -k "$KILL_AFTER" "$DEMO_TIMEOUT" wine "$demo_exe" </dev/null >wine.log 2>&1) &
    demo_pid=$!
}

# demo_ended EXPECTED-STATUS: the program ends, within DEMO_END_TIMEOUT, with that status.
demo_ended() {
    if ! ended_within "$DEMO_END_TIMEOUT" "$demo_pid"; then
        echo "TIMED OUT: $demo_exe did not end within $DEMO_END_TIMEOUT s"
        return 1
    fi
    local status=0
    wait "$demo_pid" || status=$?
    demo_pid=""
    [[ $status -eq $1 ]] || { echo "$demo_exe ended with $status, expected $1"; return 1; }
}

# run_step NAME SECONDS PROGRAM ARGS...: one Wine program, ended after SECONDS if it has not
# ended by then; its output goes to OUTPUT-FOLDER/NAME.log, shown once it ended. A file, never a
# pipe: whatever the program leaves running with its handles (one of Wine's own processes, had it
# been the one to start them) would hold a pipe, and keep its reader waiting, as long as it lives.
run_step() {
    local name=$1 limit=$2
    shift 2
    local log="$out/$name.log" status=0
    echo "--- $name ($(date +%T))"
    timeout -k "$KILL_AFTER" "$limit" wine "$@" </dev/null >"$log.raw" 2>&1 || status=$?
    tr -d '\r' <"$log.raw" >"$log"
    rm -f "$log.raw"
    if [[ $status -eq 124 || $status -eq 137 ]]; then
        echo "TIMED OUT: $name did not end within $limit s; the run goes on" >>"$log"
    fi
    cat "$log"
    return "$status"
}

# drive NAME STEP...: one driver run, logged to OUTPUT-FOLDER/NAME.log.
drive() {
    local name=$1
    shift
    run_step "$name" "$STEP_TIMEOUT" "$bin/kelm-e2e-driver.exe" "$(winpath "$out/screenshots")" "$@"
}

# scenario NAME COMMAND...: a counted check.
scenario() {
    local name=$1
    shift
    if "$@"; then
        pass "$name"
    else
        fail "$name"
        return 1
    fi
}

slice() { tail -c +$(($2 + 1)) "$1" | head -c "$3"; }  # slice FILE OFFSET LENGTH
erased() { head -c "$1" /dev/zero | tr '\0' '\377'; }  # erased LENGTH: that many 0xFF bytes

# ---- kelm.exe, the product, with no board: every control as it starts and after Connect fails

readonly NO_BOARD='Failed to connect to kelm.\n\nTry to re-plug the USB cable'

kelm_window() {
    local layout
    layout=$(winpath "$root/tests/e2e/kelm-window.txt")
    start_demo "$out/kelm" kelm.exe
    drive 0-kelm-window window layout "$layout" shot 00-kelm-start click connect \
        await Error shot 00-kelm-no-board box Error "$NO_BOARD" ok layout "$layout" \
        close gone || return 1
    demo_ended 0
}

# ---- kelm.exe with Wine's HID.DLL switched off (LoadLibraryA("HID.DLL") then fails): one box,
# never a window, and a clean end

kelm_without_hid() {
    WINEDLLOVERRIDES="$WINEDLLOVERRIDES;hid=d" start_demo "$out/kelm-no-hid" kelm.exe
    drive 0-kelm-no-hid await Error nowindow shot 00-kelm-no-hid \
        box Error 'Failed to load HID.DLL.' ok ended || return 1
    demo_ended 0
}

# ---- run 1: a new demo board, the flash file made with the sample catalogue

run1="$out/run1"
sample="$out/sample-flash.bin"
dol="$out/hello-kelm.dol"
backup="$out/hello-kelm-backup.gcb"
readonly DOL_SLOT=9  # a two-slot image: 100,000 bytes + 256 of header
readonly DOL_SIZE=100000
readonly SAMPLE_SLOTS="BIOS,...,Appl.,...,...,???,free*26"
readonly WITH_DOL_SLOTS="BIOS,...,Appl.,...,...,???,free*3,Appl.,...,free*21"

connect_and_read() {
    drive 1-connect window shot 01-start text status "Not connected to kelm." \
        text connect "&Connect to kelm" click connect text status "KELM OK!" \
        slots "$SAMPLE_SLOTS" enabled write 1 enabled read 1 enabled erase 1 enabled abort 0 \
        shot 02-connected || return 1
    [[ $(stat -c %s "$run1/kelm-demo-flash.bin") -eq $FLASH_SIZE ]] ||
        { echo "the flash file is not 2 MB"; return 1; }
    cp "$run1/kelm-demo-flash.bin" "$sample"
}

# The header that the tool writes for a DOL file: "ELF\0", the full path, zeros, the size.
dol_header() {
    local name
    name=$(winpath "$dol")
    { printf 'ELF\0%s' "$name"; head -c $((248 - 4 - ${#name})) /dev/zero;
      printf '\0\0\0\0\0\2\0\0'; }
}

write_dol() {
    head -c "$DOL_SIZE" /dev/urandom >"$dol"
    drive 2-write click write open 2 "$(winpath "$dol")" text status "select place to write!" \
        offered 00000011111111111111111111111110 shot 03-place click "slot$DOL_SLOT" \
        passes status "Please wait, writing flash" text status "KELM OK!" \
        slots "$WITH_DOL_SLOTS" shot 04-written || return 1
    local flash="$run1/kelm-demo-flash.bin" start=$((DOL_SLOT * SLOT)) end=$(((DOL_SLOT + 2) * SLOT))
    cmp <(head -c "$start" "$flash") <(head -c "$start" "$sample") &&
        cmp <(tail -c +$((end + 1)) "$flash") <(tail -c +$((end + 1)) "$sample") ||
        { echo "slots other than the new image's changed"; return 1; }
    cmp <(slice "$flash" "$start" 256) <(dol_header) || { echo "wrong slot header"; return 1; }
    cmp <(slice "$flash" $((start + 256)) "$DOL_SIZE") "$dol" || { echo "wrong image"; return 1; }
    cmp <(slice "$flash" $((start + 256 + DOL_SIZE)) $((end - start - 256 - DOL_SIZE))) \
        <(erased $((end - start - 256 - DOL_SIZE))) || { echo "the slots' tail is not erased"; return 1; }
}

back_up() {
    rm -f "$backup"
    # A click on the application's second slot backs up the whole of it.
    drive 3-backup click read click "slot$((DOL_SLOT + 1))" save "$(winpath "$backup")" \
        text status "Done!" enabled abort 0 shot 05-backed-up || return 1
    cmp "$backup" <(slice "$run1/kelm-demo-flash.bin" $((DOL_SLOT * SLOT)) $((2 * SLOT))) ||
        { echo "the backup differs from the flash"; return 1; }
}

erase_it() {
    drive 4-erase click erase text status "select application to erase!" click "slot$DOL_SLOT" \
        await Warning shot 06-erase-question \
        box Warning 'Do you really want to erase the\nselected application?\n' yes \
        passes status "Please wait, erasing block: $DOL_SLOT " text status "KELM OK!" \
        slots "$SAMPLE_SLOTS" shot 07-erased || return 1
    cmp "$run1/kelm-demo-flash.bin" "$sample" || { echo "the flash is not as before the write"; return 1; }
}

disconnect() {
    drive 5-disconnect click connect await Note shot 08-disconnect-notice \
        box Note 'Remember unplugging USB if you want to boot!\n' ok \
        text status "Disconnected." text connect "Connect to kelm" enabled write 0 \
        enabled read 0 enabled erase 0 shot 09-disconnected close gone || return 1
    demo_ended 0
}

# ---- run 2: the flash file of run 1, with an application copied to slot 20 behind the demo's
# back; after a board reset (the engineering panel's command) the board is gone, until the
# program starts again

run2="$out/run2"
readonly COPIED_SLOTS="BIOS,...,Appl.,...,...,???,free*14,Appl.,...,...,free*9"

reset_board() {
    mkdir -p "$run2"
    cp "$sample" "$run2/kelm-demo-flash.bin"
    slice "$sample" $((2 * SLOT)) $((3 * SLOT)) |
        dd of="$run2/kelm-demo-flash.bin" bs=$SLOT seek=20 conv=notrunc status=none
    cp "$run2/kelm-demo-flash.bin" "$out/run2-flash.bin"
    start_demo "$run2"
    drive 6-reset click connect text status "KELM OK!" slots "$COPIED_SLOTS" command 1021 \
        box Reset 'Board reset.\n\nUnplug and plug back device to re-enumerate.' ok \
        text status "Not connected to kelm." click connect \
        box Error 'Failed to connect to kelm.\n\nTry to re-plug the USB cable' ok \
        shot 10-after-reset close gone || return 1
    demo_ended 0 && cmp "$run2/kelm-demo-flash.bin" "$out/run2-flash.bin"
}

restart() {
    start_demo "$run2"
    drive 7-restart click connect text status "KELM OK!" slots "$COPIED_SLOTS" close gone &&
        demo_ended 0
}

# ---- run 3: a flash file of the wrong size is named, left alone, and the demo ends

wrong_size() {
    local run3="$out/run3"
    mkdir -p "$run3"
    head -c 1000 /dev/urandom >"$run3/kelm-demo-flash.bin"
    cp "$run3/kelm-demo-flash.bin" "$out/run3-flash.bin"
    start_demo "$run3"
    local text path
    path=$(winpath "$run3/kelm-demo-flash.bin")
    text="The demo board's flash file\n${path//\\/\\\\}\nis 1000 bytes long, "
    text+="not 2097152.\n\nThe file was left as it is. Move it away, and the demo starts with a "
    text+="new sample flash."
    drive 8-wrong-size await Error shot 11-wrong-size box Error "$text" ok || return 1
    demo_ended 1 && cmp "$run3/kelm-demo-flash.bin" "$out/run3-flash.bin"
}

# ---- the runner itself: a program started inside a driven step leaves a process behind that
# holds the step's output, as Wine's own processes would had the driver started them; the step
# still ends as soon as the driver does

readonly HOLD_SECONDS=$((STEP_TIMEOUT + 60))  # the held output would outlast a step's time limit

# holder_command STOP-FILE: the command line that the driver's step "run" starts.
holder_command() {
    printf '"%s" "%s" %s' "$(winpath "$bin/kelm-e2e-handle-holder.exe")" "$(winpath "$1")" \
        "$HOLD_SECONDS"
}

# holder_stops STOP-FILE: the holder's copy, still running, takes the stop file away.
holder_stops() {
    touch "$1"
    local tenths=0
    while [[ -e "$1" ]] && ((tenths < 300)); do
        sleep 0.1
        tenths=$((tenths + 1))
    done
    [[ ! -e "$1" ]] || { rm -f "$1"; echo "the holder's copy was not running any more"; return 1; }
}

held_output() {
    local stop="$out/held-output.stop" started=$SECONDS
    rm -f "$stop"
    drive 9-held-output run "$(holder_command "$stop")" || return 1
    local took=$((SECONDS - started))
    ((took < STEP_TIMEOUT)) || { echo "the step took $took s"; return 1; }
    grep -qx 'holder: copy started, holding the standard handles' "$out/9-held-output.log" ||
        { echo "the holder's copy never wrote to the step's output"; return 1; }
    echo "the step ended after $took s, its output still held"
    holder_stops "$stop"
}

# The same driver run with its output read through a pipe, as this runner once read it: the pipe
# stays open until the holder's copy ends. This is what makes the check above mean something.
held_pipe() {
    local stop="$out/held-pipe.stop" log="$out/9-held-pipe.log" status="$out/9-held-pipe.status"
    rm -f "$stop" "$log" "$status"
    echo "--- 9-held-pipe ($(date +%T))"
    { timeout -k "$KILL_AFTER" "$HOLD_SECONDS" wine "$bin/kelm-e2e-driver.exe" \
        "$(winpath "$out/screenshots")" run "$(holder_command "$stop")" </dev/null 2>&1
      echo $? >"$status"; } | cat >"$log" &
    local reader=$! tenths=0
    while [[ ! -s "$status" ]] && ((tenths < STEP_TIMEOUT * 10)); do
        sleep 0.1
        tenths=$((tenths + 1))
    done
    tr -d '\r' <"$log"
    [[ $(cat "$status" 2>/dev/null) == 0 ]] || { echo "the driver did not pass"; return 1; }
    if ended_within 3 "$reader"; then
        echo "the pipe closed with the driver: nothing held it"
        return 1
    fi
    echo "the pipe is still open 3 s after the driver ended"
    holder_stops "$stop" || return 1
    ended_within 10 "$reader" || { echo "the pipe stays open after the holder's copy ended"; return 1; }
    echo "the pipe closed when the holder's copy ended"
}

# A step that outlives its time limit is ended, says so in its log, and the run goes on: here a
# driver waiting for a kelm window that never comes, given 3 s.
timed_out() {
    local started=$SECONDS status=0
    run_step 9-timed-out 3 "$bin/kelm-e2e-driver.exe" "$(winpath "$out/screenshots")" window ||
        status=$?
    local took=$((SECONDS - started))
    [[ $status -eq 124 ]] || { echo "the step ended with $status, not by its time limit"; return 1; }
    grep -qx 'TIMED OUT: 9-timed-out did not end within 3 s; the run goes on' \
        "$out/9-timed-out.log" || { echo "its log does not say that it timed out"; return 1; }
    ((took <= 3 + KILL_AFTER)) || { echo "the step took $took s"; return 1; }
    echo "the step was ended after $took s"
}

if [[ ! -f "$bin/kelm.exe" || ! -f "$bin/kelm-demo.exe" || ! -f "$bin/kelm-e2e-driver.exe" ||
      ! -f "$bin/kelm-e2e-handle-holder.exe" ]]; then
    fail "kelm.exe, kelm-demo.exe, kelm-e2e-driver.exe and kelm-e2e-handle-holder.exe in $bin"
elif ! prepare_prefix; then
    fail "Wine prefix $WINEPREFIX"
else
    rm -rf "$out/kelm" "$out/kelm-no-hid" "$run1" "$run2" "$out/run3"
    scenario "kelm.exe: title, texts and states of every control; Connect finds no board" \
        kelm_window
    clear_up
    scenario "kelm.exe without HID.DLL: one box, no window, exit code 0" kelm_without_hid
    clear_up
    start_demo "$run1"
    if scenario "connect and read every slot caption" connect_and_read; then
        scenario "write a DOL file into slot $DOL_SLOT; the flash file holds it" write_dol &&
            scenario "back the application up; the backup equals the flash" back_up &&
            scenario "erase it after answering Yes; its slots are free" erase_it
        scenario "disconnect: the notice, then close the window" disconnect
    fi
    clear_up
    if scenario "a board reset takes the board away until the program restarts" reset_board; then
        scenario "started again, the board is back with its flash" restart
    fi
    clear_up
    scenario "a flash file of the wrong size is named and left alone" wrong_size
    clear_up
    scenario "a step ends with its driver while a process it started holds its output" held_output
    scenario "read through a pipe, that output would stay open until the process ends" held_pipe
    scenario "a step past its time limit is ended and says so in its log" timed_out
fi
stop_wine

echo "screenshots: $out/screenshots"
echo "e2e: $passed passed, $failed failed"
[[ $failed -eq 0 ]]
