#!/usr/bin/env bash
# Builds the release tree (build-release) and the Debian package of the program, the serving
# simulator and the command-line companion; prints the package's path.
#   scripts/package.sh
#   sudo apt install ./build-release/package/tolvaren-diagnostics_*.deb
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

BUILD_DIR="$("$ROOT/scripts/setup.sh" --release TolvarenDiagnostics tolvaren-sim tolvaren-cli |
             tee /dev/stderr | tail -n 1)"
OUT="$BUILD_DIR/package"
rm -rf "$OUT"
cpack --config "$BUILD_DIR/CPackConfig.cmake" -B "$OUT" >&2
rm -rf "$OUT/_CPack_Packages"
ls "$OUT"/*.deb
