#!/usr/bin/env bash
# The web page: the engine of core/ and the simulated board of sim/ in WebAssembly, and the site
# around them (web/), built into build/web/site/.
#
#   bash scripts/web.sh build    installs what is missing, builds build/web/site/
#   bash scripts/web.sh [serve]  the same, then serves it on http://127.0.0.1:8080/ (Ctrl-C ends)
#   bash scripts/web.sh deps     installs what is missing only (Debian packages, npm packages)
#   bash scripts/web.sh bench    builds it, then its benchmarks (bench/web/page_bench.mjs; they
#                                compare with build/host/kelmtool's files, so build that first)
#
# WebHID needs a secure context: http://127.0.0.1 and http://localhost count, any other host
# needs https.
set -euo pipefail

mode=${1:-serve}
case "$mode" in
    build | serve | deps | bench) ;;
    *)
        echo "usage: scripts/web.sh [build|serve|deps|bench]" >&2
        exit 2
        ;;
esac

cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
# The tests' npm packages, at the versions package-lock.json holds; again only when the lock
# changed since the last install.
if [[ ! -f node_modules/.package-lock.json || package-lock.json -nt node_modules/.package-lock.json ]]; then
    npm ci --no-audit --no-fund
fi
[[ "$mode" == deps ]] && exit 0

cmake --preset web
cmake --build --preset web -j 2
echo "web: the site is build/web/site/ ($(du -sb build/web/site | cut -f1) bytes)"
[[ "$mode" == build ]] && exit 0
[[ "$mode" == bench ]] && exec node bench/web/page_bench.mjs

exec node web/serve.mjs build/web/site 8080
