#!/usr/bin/env bash
# The front end's cost while the sampler runs, beside a loop that never blocks (the reference):
# CPU used during a 5 s run, and how soon "Done!" follows the sampler's exit.
#   bench/wait.sh [SECONDS]        (build first: scripts/setup test)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${LOTRIX_BUILD:-$top/build}
cmake --build "$build" --target wait_bench fake_lotrix >/dev/null
QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} "$build/bench/wait_bench" "$build/tests/bin" "${1:-5}" 2> >(grep -v propagateSizeHints >&2)
