#!/usr/bin/env bash
# Builds the benchmarks optimised (build-release/) and runs every one of them.
#   scripts/bench.sh [benchmark name filter]
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$ROOT/scripts/setup.sh" --release benchmarks
for exe in "$ROOT"/build-release/bench/bench_*; do
    [[ -x "$exe" ]] || continue
    if [[ -n "${1:-}" && "$exe" != *"$1"* ]]; then
        continue
    fi
    echo "== $(basename "$exe")"
    "$exe"
done
