#!/usr/bin/env bash
# Builds the program, starts it under Xvfb on the simulated card, waits until the card face is up
# and refreshed, and saves a PNG of the window as docs/card-face.png (or the file given).
#
#   scripts/card-face-screenshot.sh [output.png]
#
# Builds in build/ through setup.sh; set TOLVAREN_BUILD_DIR to use an existing build folder.
# The program runs with a settings folder and port list of its own, so neither the user's
# settings nor the machine's serial ports play a part.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
OUT="$(realpath -m "${1:-$ROOT/docs/card-face.png}")"

if [[ -n "${TOLVAREN_BUILD_DIR:-}" ]]; then
    cmake --build "$TOLVAREN_BUILD_DIR" --target TolvarenDiagnostics
    BUILD_DIR="$TOLVAREN_BUILD_DIR"
else
    BUILD_DIR="$("$ROOT/scripts/setup.sh" TolvarenDiagnostics | tail -n 1)"
fi

SANDBOX="$(mktemp -d)"
trap 'rm -rf "$SANDBOX"' EXIT
mkdir -p "$SANDBOX/config" "$SANDBOX/sys" "$SANDBOX/dev" "$(dirname "$OUT")"

# Under Xvfb, not offscreen: the picture shows the fonts and style of a real X display.
env -u QT_QPA_PLATFORM XDG_CONFIG_HOME="$SANDBOX/config" \
    TOLVAREN_SYSFS_TTY="$SANDBOX/sys" TOLVAREN_DEV_DIR="$SANDBOX/dev" \
    xvfb-run -a -s "-screen 0 1280x1024x24" \
    "$BUILD_DIR/app/TolvarenDiagnostics" --simulate --screenshot "$OUT"
echo "$OUT"
