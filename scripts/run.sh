#!/usr/bin/env bash
# Installs what is missing, builds the program and starts it on the simulated card, so that the
# card face shows without a card. Arguments, when given, replace --simulate:
#   scripts/run.sh                 the simulated card
#   scripts/run.sh --help          the program's options
#   build/app/TolvarenDiagnostics  (after a build) waits for a real card on a serial port
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD_DIR="$("$ROOT/scripts/setup.sh" TolvarenDiagnostics | tee /dev/stderr | tail -n 1)"
if (($# == 0)); then
    set -- --simulate
fi
exec "$BUILD_DIR/app/TolvarenDiagnostics" "$@"
