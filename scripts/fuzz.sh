#!/usr/bin/env bash
# Builds the fuzz targets (preset "fuzz": clang, libFuzzer, ASan and UBSan) and runs each for N
# seconds (default 60), one after the other, starting from the seeds in fuzz/corpus/<target>/.
#   bash scripts/fuzz.sh [SECONDS] [TARGET...]
#   bash scripts/fuzz.sh --list        the targets: one per fuzz/*_fuzz.cpp, the only list of them
# New inputs go to build/fuzz/corpus/<target>/ (the seeds in the repository stay as they are),
# crashes to build/fuzz/artifacts/<target>/. One line per target:
#   "fuzz: <target>: N executions in S s, no crash" or "... CRASHED (see <file>)".
# Exits non-zero when a target crashed or could not be built.
set -uo pipefail

cd "$(dirname "$0")/.." || exit 1

all_targets=()
for source in fuzz/*_fuzz.cpp; do
    all_targets+=("$(basename "$source" .cpp)")
done
if [[ "${1:-}" == "--list" ]]; then
    printf '%s\n' "${all_targets[@]}"
    exit 0
fi

seconds=${1:-60}
shift || true
targets=("$@")
if [[ ${#targets[@]} -eq 0 ]]; then
    targets=("${all_targets[@]}")
fi
if ! [[ "$seconds" =~ ^[0-9]+$ ]] || [[ "$seconds" -eq 0 ]]; then
    echo "usage: bash scripts/fuzz.sh [SECONDS] [TARGET...]" >&2
    exit 2
fi

build=build/fuzz
cmake --preset fuzz >/dev/null || { echo "fuzz: configure failed"; exit 1; }
cmake --build --preset fuzz -j 2 --target "${targets[@]}" || { echo "fuzz: build failed"; exit 1; }

status=0
for target in "${targets[@]}"; do
    seeds=fuzz/corpus/$target
    corpus=$build/corpus/$target
    artifacts=$build/artifacts/$target
    log=$build/$target.log
    mkdir -p "$corpus" "$artifacts"
    rm -f "$artifacts"/crash-* "$artifacts"/leak-* "$artifacts"/timeout-* "$artifacts"/oom-*
    # -max_len fits the largest catalogue input (a raw header for each of the 32 slots); a single
    # input that takes more than 60 s is a hang.
    "$build/$target" -max_total_time="$seconds" -max_len=8300 -timeout=60 -print_final_stats=1 \
        -artifact_prefix="$artifacts/" "$corpus" "$seeds" >"$log" 2>&1
    result=$?
    runs=$(sed -nE 's/^stat::number_of_executed_units: *([0-9]+).*/\1/p' "$log" | tail -n 1)
    found=$(compgen -G "$artifacts/*" | head -n 1)
    if [[ $result -eq 0 && -z "$found" ]]; then
        echo "fuzz: $target: ${runs:-0} executions in $seconds s, no crash"
    else
        tail -n 40 "$log"
        echo "fuzz: $target: ${runs:-0} executions, CRASHED (see ${found:-$log})"
        status=1
    fi
done
exit $status
