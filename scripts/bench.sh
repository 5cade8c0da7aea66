#!/usr/bin/env bash
# Builds the benchmarks (preset "bench": optimised, no sanitizers, build/bench) and runs them:
# the host's cost per report and per operation against the simulated board answering at once,
# peak heap use of a write and a backup, status-line repaints, the 1 ms link model, and kelmtool
# against the window on the same images (reports, link-model times, flash, kelmtool's heap).
# Prints the figures, then every goal as a ratio with PASS or FAIL; the last line is
# "bench: N goals, M met, K missed". Exits non-zero when a goal was missed or the build failed.
# Arguments go to the benchmark program, e.g. --benchmark_filter=Link (goals of benchmarks that
# a filter leaves out are not checked).
set -euo pipefail

cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake --preset bench
cmake --build --preset bench -j 2
exec build/bench/kelm_bench "$@"
