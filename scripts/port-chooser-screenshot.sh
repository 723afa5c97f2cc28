#!/usr/bin/env bash
# Builds the port chooser demo and saves a screenshot of it listing network serial ports, taken
# under Xvfb, as docs/port-chooser-network.png (or the file given).
#
#   scripts/port-chooser-screenshot.sh [output.png]
#
# Builds in build/ through setup.sh; set TOLVAREN_BUILD_DIR to use an existing build folder.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
OUT="${1:-$ROOT/docs/port-chooser-network.png}"

if [[ -n "${TOLVAREN_BUILD_DIR:-}" ]]; then
    cmake --build "$TOLVAREN_BUILD_DIR" --target tolvaren_port_chooser_demo
    BUILD_DIR="$TOLVAREN_BUILD_DIR"
else
    BUILD_DIR="$("$ROOT/scripts/setup.sh" tolvaren_port_chooser_demo | tail -n 1)"
fi

mkdir -p "$(dirname "$OUT")"
# Its own settings, so the demo's network ports never reach the user's; no serial ports of this
# machine in the picture.
export XDG_CONFIG_HOME="$(mktemp -d)" TOLVAREN_SYSFS_TTY="$(mktemp -d)"
env -u QT_QPA_PLATFORM xvfb-run -a -s "-screen 0 1280x800x24" \
    "$BUILD_DIR/tests/widgets/tolvaren_port_chooser_demo" --screenshot "$OUT"
echo "$OUT"
