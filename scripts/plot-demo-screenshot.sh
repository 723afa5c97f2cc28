#!/usr/bin/env bash
# Builds the strip chart demo and saves a screenshot of it, taken under Xvfb, as
# docs/data-plot.png (or the file given).
#
#   scripts/plot-demo-screenshot.sh [output.png]
#
# Builds in build/ through setup.sh; set TOLVAREN_BUILD_DIR to use an existing build folder.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
OUT="${1:-$ROOT/docs/data-plot.png}"

if [[ -n "${TOLVAREN_BUILD_DIR:-}" ]]; then
    cmake --build "$TOLVAREN_BUILD_DIR" --target tolvaren_plot_demo
    BUILD_DIR="$TOLVAREN_BUILD_DIR"
else
    BUILD_DIR="$("$ROOT/scripts/setup.sh" tolvaren_plot_demo | tail -n 1)"
fi

mkdir -p "$(dirname "$OUT")"
# Under Xvfb, not offscreen: the screenshot shows the fonts and style of a real X display.
env -u QT_QPA_PLATFORM xvfb-run -a -s "-screen 0 1280x800x24" \
    "$BUILD_DIR/tests/graphs/tolvaren_plot_demo" --screenshot "$OUT"
echo "$OUT"
