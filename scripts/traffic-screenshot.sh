#!/usr/bin/env bash
# Builds the traffic window demo and saves a screenshot of it on the full simulated card, taken
# under Xvfb, as docs/traffic-window.png (or the file given).
#
#   scripts/traffic-screenshot.sh [output.png]
#
# Builds in build/ through setup.sh; set TOLVAREN_BUILD_DIR to use an existing build folder.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
OUT="${1:-$ROOT/docs/traffic-window.png}"

if [[ -n "${TOLVAREN_BUILD_DIR:-}" ]]; then
    cmake --build "$TOLVAREN_BUILD_DIR" --target tolvaren_traffic_demo
    BUILD_DIR="$TOLVAREN_BUILD_DIR"
else
    BUILD_DIR="$("$ROOT/scripts/setup.sh" tolvaren_traffic_demo | tail -n 1)"
fi

mkdir -p "$(dirname "$OUT")"
# Its own settings and log folder, so the demo leaves nothing in the user's.
export XDG_CONFIG_HOME="$(mktemp -d)" XDG_DATA_HOME="$(mktemp -d)"
env -u QT_QPA_PLATFORM xvfb-run -a -s "-screen 0 1280x800x24" \
    "$BUILD_DIR/tests/widgets/tolvaren_traffic_demo" --screenshot "$OUT"
echo "$OUT"
