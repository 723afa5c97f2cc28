#!/usr/bin/env bash
# Builds the graph window demo and saves screenshots of a live and an 8-day graph of the full
# simulated card, taken under Xvfb, as docs/live-graph.png and docs/historical-graph.png (or the
# two files given).
#
#   scripts/graph-screenshots.sh [live.png historical.png]
#
# Builds in build/ through setup.sh; set TOLVAREN_BUILD_DIR to use an existing build folder.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
LIVE="${1:-$ROOT/docs/live-graph.png}"
HISTORICAL="${2:-$ROOT/docs/historical-graph.png}"

if [[ -n "${TOLVAREN_BUILD_DIR:-}" ]]; then
    cmake --build "$TOLVAREN_BUILD_DIR" --target tolvaren_graph_demo
    BUILD_DIR="$TOLVAREN_BUILD_DIR"
else
    BUILD_DIR="$("$ROOT/scripts/setup.sh" tolvaren_graph_demo | tail -n 1)"
fi

mkdir -p "$(dirname "$LIVE")" "$(dirname "$HISTORICAL")"
env -u QT_QPA_PLATFORM xvfb-run -a -s "-screen 0 1280x1024x24" \
    "$BUILD_DIR/tests/graphs/tolvaren_graph_demo" --screenshot "$LIVE" "$HISTORICAL"
echo "$LIVE"
echo "$HISTORICAL"
