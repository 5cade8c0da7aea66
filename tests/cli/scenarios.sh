#!/usr/bin/env bash
# kelmtool as a whole program against --sim flash files: the same scenarios for the Linux build
# and for kelmtool.exe under Wine, so that the two are held to the same behaviour.
#
#   scenarios.sh [--no-board | --no-board-only] WORK_DIR VGC_BLOCK COMMAND...
#
# COMMAND runs kelmtool (for Windows: env WINEPREFIX=... wine kelmtool.exe). WORK_DIR is emptied
# and used for the files. VGC_BLOCK is the 1792-byte block a VGC image carries. --no-board adds
# the checks that hold only where no board is attached: info exits 3, list lists none, a --path
# that leads nowhere exits 3; --no-board-only runs just those.
#
# Every run's output goes to files, never through a pipe: a Wine service started by the run
# could inherit a pipe and hold it open long after the program ended.
# The checks are strings that check() evaluates, hence single quotes around expansions.
# shellcheck disable=SC2016
set -uo pipefail

no_board=0
sim=1
case ${1:-} in
    --no-board) no_board=1 && shift ;;
    --no-board-only) no_board=1 && sim=0 && shift ;;
esac
if [[ $# -lt 3 ]]; then
    echo "usage: $0 [--no-board] WORK_DIR VGC_BLOCK COMMAND..." >&2
    exit 2
fi
work=$1
vgc_block=$(realpath "$2")
shift 2
tool=("$@")

export LC_ALL=C
slot=65536
passed=0
failed=0

rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 1

# kt ARGS...: one run of kelmtool, standard input not a terminal; sets status, out and err
# (line ends made Unix ones).
kt() {
    "${tool[@]}" "$@" </dev/null >out.raw 2>err.raw
    status=$?
    tr -d '\r' <out.raw >out
    tr -d '\r' <err.raw >err
    last_run="kelmtool $*"
}

check() {  # check NAME COMMAND...: one counted check; on failure the last run is shown
    local name=$1
    shift
    if "$@"; then
        passed=$((passed + 1))
        echo "ok: $name"
    else
        failed=$((failed + 1))
        echo "FAILED: $name (after: $last_run, exit $status)"
        sed 's/^/  stdout: /' out | head -n 20
        sed 's/^/  stderr: /' err | head -n 20
    fi
}

exited() { [[ $status -eq $1 ]]; }
says() { grep -Eq "$2" "$1"; }  # says FILE REGEX

# Bytes [offset, offset + count) of a file, on standard output.
piece() { tail -c +$(($2 + 1)) "$1" | head -c "$3"; }
# same FILE OFFSET COUNT OTHER [OTHER_OFFSET]: equal byte ranges of two files.
same() { cmp -s <(piece "$1" "$2" "$3") <(piece "$4" "${5:-0}" "$3"); }
# erased FILE OFFSET COUNT: the range holds only 0xFF.
erased() { cmp -s <(piece "$1" "$2" "$3") <(head -c "$3" /dev/zero | tr '\0' '\377'); }
# be32 FILE OFFSET: a big-endian 32-bit word.
be32() { od -An -tu1 -j "$2" -N 4 "$1" | awk '{ print (($1 * 256 + $2) * 256 + $3) * 256 + $4 }'; }
# name_of FILE SLOT: the name field of a slot's header, up to its first zero byte.
name_of() { piece "$1" $(($2 * slot + 4)) 244 | tr '\0' '\n' | head -n 1; }
# pattern COUNT SEED: deterministic bytes 1 to 250, never 0xFF.
pattern() { awk -v n="$1" -v s="$2" 'BEGIN { for (i = 0; i < n; i++) printf "%c", (i * 7 + s) % 250 + 1 }'; }
# unchanged FILE COPY: a refusal left the file as it was.
unchanged() { cmp -s "$1" "$2"; }

# The scenarios on --sim files, up to the no-board checks (left unindented).
if [[ $sim -eq 1 ]]; then
# The images: a 300-byte DOL, a 70,000-byte ELF (two slots), a 300-byte GCB whose own size field
# is wrong, a 3,000-byte VGC, and the files that must be refused.
dol_bytes=300
pattern $dol_bytes 3 >a.dol
{ printf '\x7fELF'; pattern 69996 5; } >b.elf
{ printf '(C) '; pattern 248 11; printf '\x12\x34\x56\x78'; pattern 44 13; } >c.gcb
{ printf 'VGC\0\0'; pattern 2995 17; } >d.vgc
{ printf 'VGC\0\x02'; pattern 2995 17; } >encrypted.vgc
{ printf '(C) '; pattern 96 19; } >short.gcb
cp a.dol unknown.bin
pattern 255 3 >tiny.dol
pattern 1000 5 >no-magic.elf
{ printf 'ABCD'; pattern 296 11; } >odd-magic.gcb
: >empty.vgc
pattern 2097153 23 >huge.dol
head -c 1000 /dev/zero >wrong-size.bin

# --- writes of each kind into a flash file that does not exist yet (created erased) ---
kt --sim flash.bin --json write c.gcb
check "write gcb: done" exited 0
check "write gcb: JSON names slot 0, one slot, kind gcb" \
    eval 'says out "\"slot\": 0," && says out "\"slots\": 1," && says out "\"kind\": \"gcb\""'
check "write gcb: the flash file is 2 MB" test "$(stat -c %s flash.bin)" -eq 2097152
check "write gcb: its own header kept up to the size field" same flash.bin 0 252 c.gcb
check "write gcb: size field replaced by 65536" test "$(be32 flash.bin 252)" -eq 65536
check "write gcb: the rest of the file follows" same flash.bin 256 44 c.gcb 256
check "write gcb: the rest of the flash erased" erased flash.bin 300 $((2097152 - 300))

kt --sim flash.bin --json write a.dol
check "write dol: done, first feasible slot 1" eval 'exited 0 && says out "\"slot\": 1,"'
check "write dol: ELF magic" eval '[[ "$(piece flash.bin $slot 4 | od -An -c | tr -d " ")" == "ELF\\0" ]]'
check "write dol: name field is the file's absolute path" \
    eval '[[ "$(name_of flash.bin 1)" =~ ^(/|[A-Za-z]:\\).*a\.dol$ ]]'
check "write dol: reserved word zero" test "$(be32 flash.bin $((slot + 248)))" -eq 0
check "write dol: size field 65536" test "$(be32 flash.bin $((slot + 252)))" -eq 65536
check "write dol: the file after the header" same flash.bin $((slot + 256)) $dol_bytes a.dol
check "write dol: erased after it" \
    erased flash.bin $((slot + 256 + dol_bytes)) $((slot - 256 - dol_bytes))

kt --sim flash.bin --json write b.elf --slot 4
check "write elf --slot 4: done, two slots" eval 'exited 0 && says out "\"slot\": 4," && says out "\"slots\": 2,"'
check "write elf: size field 131072" test "$(be32 flash.bin $((4 * slot + 252)))" -eq 131072
check "write elf: the file across the slot boundary" same flash.bin $((4 * slot + 256)) 70000 b.elf
check "write elf: slot 3 untouched" erased flash.bin $((3 * slot)) $slot

kt --sim flash.bin --json write d.vgc
check "write vgc: done, first even free slot 2" eval 'exited 0 && says out "\"slot\": 2," && says out "\"kind\": \"vgc\""'
check "write vgc: BIOS magic" eval '[[ "$(piece flash.bin $((2 * slot)) 4)" == "(C) " ]]'
check "write vgc: the VGC block after the header" same flash.bin $((2 * slot + 256)) 1792 "$vgc_block"
check "write vgc: the file after the block" same flash.bin $((2 * slot + 2048)) 3000 d.vgc

kt --sim flash.bin --json write unknown.bin --kind dol --slot 7 --verify
check "write --kind dol of a .bin, --verify: done" \
    eval 'exited 0 && says out "\"slot\": 7," && says out "\"verified\": true"'

# --- info ---
kt --sim flash.bin --json info
check "info --json: done" exited 0
check "info --json: 32 slots, 5 images, BIOS in slot 0" eval \
    '[[ $(grep -c "\"state\":" out) -eq 32 && $(grep -c "\"magic_hex\":" out) -eq 5 ]] &&
     says out "\"bios_in_slot0\": true"'
check "info --json: magics of the GCB and the ELF" \
    eval 'says out "\"magic_hex\": \"28432920\"" && says out "\"magic_hex\": \"454c4600\""'
check "info --json: slot 5 used, owned by slot 4" \
    eval 'grep -A 3 "\"owner\": 4," out | grep -q "\"slot\": 5,"'
kt --sim flash.bin info
check "info: a table on standard output" eval 'exited 0 && says out "^ +5 +\\.\\.\\. +used +4$"'

kt --sim flash.bin --trace info
check "info --trace: the table on standard output, one line per report on standard error" eval \
    'exited 0 && says out "^images:$" && [[ $(wc -l <err) -gt 32 ]] &&
     [[ -z "$(grep -Ev "^(out|feature)( [0-9a-f]{2}){65}$" err)" ]]'

# --- backup and verify ---
kt --sim flash.bin backup 5 -o run.gcb
check "backup of slot 5: done" exited 0
check "backup: slots 4-5 as on the flash" eval \
    '[[ $(stat -c %s run.gcb) -eq $((2 * slot)) ]] && same flash.bin $((4 * slot)) $((2 * slot)) run.gcb'
cp run.gcb run-before.gcb
kt --sim flash.bin backup 1 -o run.gcb
check "backup over an existing file without --force: exit 2, file kept" \
    eval 'exited 2 && unchanged run.gcb run-before.gcb'
kt --sim flash.bin backup 1 -o run.gcb --force
check "backup --force replaces it" eval 'exited 0 && same flash.bin $slot $slot run.gcb'

kt --sim flash.bin verify 5 b.elf
check "verify of the ELF at its second slot: passes" exited 0
kt --sim flash.bin verify 1 a.dol
check "verify of the DOL: passes" exited 0
# One byte of the ELF's body changed behind the board's back.
printf '\x00' | dd of=flash.bin bs=1 seek=$((5 * slot + 100)) conv=notrunc status=none
kt --sim flash.bin verify 4 b.elf
check "verify after a changed byte: exit 4 naming slot 5 and the offset" \
    eval 'exited 4 && says err "slot 5" && says err "0x0064"'

# --- dump, erase, restore ---
kt --sim flash.bin dump -o full.bin
check "dump: the whole flash" eval 'exited 0 && unchanged flash.bin full.bin'
cp flash.bin before-erase.bin
kt --sim flash.bin erase 4 --yes
check "erase --yes of slot 4: done" exited 0
check "erase: slots 4-5 erased" erased flash.bin $((4 * slot)) $((2 * slot))
check "erase: the other slots unchanged" eval \
    'same flash.bin 0 $((4 * slot)) before-erase.bin && same flash.bin $((6 * slot)) $((26 * slot)) before-erase.bin $((6 * slot))'
kt --sim flash.bin restore full.bin --yes --verify
check "restore --yes --verify: done" exited 0
check "restore: the flash equals the dump" unchanged flash.bin full.bin
kt --sim flash.bin verify 4 b.elf
check "verify after the restore: the changed byte is back, exit 4" exited 4

# --- refusals: exit 2, the flash file byte-identical ---
cp flash.bin snapshot.bin
head -c 100 /dev/zero >short-dump.bin
kt --sim flash.bin --json write a.dol d.vgc --dry-run
check "write --dry-run of two images: exit 0, both placed, the flash unchanged" \
    eval 'exited 0 && [[ $(grep -c "\"file\":" out) -eq 2 ]] && unchanged flash.bin snapshot.bin'
kt --sim flash.bin erase 1 --dry-run
check "erase --dry-run: says what it would erase, erases nothing" \
    eval 'exited 0 && says out "^would erase" && unchanged flash.bin snapshot.bin'
kt --json info b.elf
check "info FILE without a board: the ELF needs two slots" eval 'exited 0 && says out "\"slots\": 2,?$"'
refusals=(
    "missing file|write missing.dol"
    "unknown kind|write unknown.bin"
    "unknown --kind|write a.dol --kind zip"
    "encrypted VGC|write encrypted.vgc"
    ".gcb shorter than its header|write short.gcb"
    ".gcb of no image's magic|write odd-magic.gcb"
    "DOL shorter than its own header|write tiny.dol"
    "ELF without its magic|write no-magic.elf"
    "empty file|write empty.vgc"
    "no room|write huge.dol"
    "a used slot|write a.dol --slot 1"
    "a .gcb at an odd slot|write c.gcb --slot 3"
    "slot out of range|erase 32 --yes"
    "backup of a free slot|backup 10 -o free.gcb"
    "erase of a free slot|erase 10 --yes"
    "verify of a free slot|verify 10 a.dol"
    "erase without --yes, no terminal|erase 1"
    "restore without --yes, no terminal|restore full.bin"
    "restore of a dump of the wrong size|restore short-dump.bin --yes"
    "dump over an existing file|dump -o full.bin"
    "unknown command|frobnicate"
)
for entry in "${refusals[@]}"; do
    IFS='|' read -r name arguments <<<"$entry"
    # shellcheck disable=SC2086 # the arguments are words
    kt --sim flash.bin $arguments
    check "refused, exit 2: $name" eval 'exited 2 && unchanged flash.bin snapshot.bin'
done
check "a refused backup leaves no file" test ! -e free.gcb
cp wrong-size.bin wrong-size-before.bin
kt --sim wrong-size.bin info
check "refused, exit 2: a flash file of the wrong size, left untouched" \
    eval 'exited 2 && unchanged wrong-size.bin wrong-size-before.bin'

fi

# --- no board ---
if [[ $no_board -eq 1 ]]; then
    kt info
    check "no board: info exits 3 and says so" eval 'exited 3 && says err "no kelm board found"'
    kt list
    check "no board: list shows none" eval 'exited 0 && says out "^no kelm board attached$"'
    kt --json list
    check "no board: list --json gives an empty list" eval 'exited 0 && says out "\"boards\": \[\]"'
    kt --path nowhere info
    check "no board: a --path leading nowhere exits 3 and says why" \
        eval 'exited 3 && says err "nowhere is no kelm board"'
fi

echo "scenarios: $passed passed, $failed failed"
[[ $failed -eq 0 ]]
