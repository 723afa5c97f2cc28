#!/usr/bin/env bash
# Builds the calibration window demo, runs a whole Input Card calibration on the rig served
# in-process and saves a screenshot of the window, taken under Xvfb once the run has succeeded,
# as docs/calibration-window.png (or the file given).
#
#   scripts/calibration-screenshot.sh [output.png]
#
# Builds in build/ through setup.sh; set TOLVAREN_BUILD_DIR to use an existing build folder.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
OUT="${1:-$ROOT/docs/calibration-window.png}"

if [[ -n "${TOLVAREN_BUILD_DIR:-}" ]]; then
    cmake --build "$TOLVAREN_BUILD_DIR" --target tolvaren_calibration_demo
    BUILD_DIR="$TOLVAREN_BUILD_DIR"
else
    BUILD_DIR="$("$ROOT/scripts/setup.sh" tolvaren_calibration_demo | tail -n 1)"
fi

mkdir -p "$(dirname "$OUT")"
# Its own settings, so the demo leaves nothing in the user's; no ports but the rig's.
export XDG_CONFIG_HOME="$(mktemp -d)" XDG_DATA_HOME="$(mktemp -d)"
unset TOLVAREN_EXTRA_SERIAL_PORTS
env -u QT_QPA_PLATFORM xvfb-run -a -s "-screen 0 1280x1100x24" \
    "$BUILD_DIR/tests/calibration_ui/tolvaren_calibration_demo" --screenshot "$OUT"
echo "$OUT"
