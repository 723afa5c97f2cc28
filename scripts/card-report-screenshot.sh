#!/usr/bin/env bash
# Makes the card report of the simulated card that tolvaren-sim serves (a visit that relabels two
# inputs, so the report lists changes) and renders its first page as docs/card-report.png (or the
# file given), with pdftoppm. The PDF itself is left beside the picture's temporary folder only.
#
#   scripts/card-report-screenshot.sh [output.png]
#
# Builds in build/ through setup.sh; set TOLVAREN_BUILD_DIR to use an existing build folder.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
OUT="$(realpath -m "${1:-$ROOT/docs/card-report.png}")"

if [[ -n "${TOLVAREN_BUILD_DIR:-}" ]]; then
    cmake --build "$TOLVAREN_BUILD_DIR" --target tolvaren-cli tolvaren-sim
    BUILD_DIR="$TOLVAREN_BUILD_DIR"
else
    BUILD_DIR="$("$ROOT/scripts/setup.sh" tolvaren-cli tolvaren-sim | tail -n 1)"
fi

SANDBOX="$(mktemp -d)"
SIM_PID=""
cleanup() {
    [[ -n "$SIM_PID" ]] && kill "$SIM_PID" 2>/dev/null || true
    rm -rf "$SANDBOX"
}
trap cleanup EXIT
mkfifo "$SANDBOX/sim.out"
"$BUILD_DIR/simulator/serve/tolvaren-sim" --no-pacing > "$SANDBOX/sim.out" &
SIM_PID=$!
PORT=""
while read -r line; do
    if [[ "$line" == TOLVAREN_EXTRA_SERIAL_PORTS=* ]]; then
        PORT="${line#TOLVAREN_EXTRA_SERIAL_PORTS=}"
        break
    fi
done < "$SANDBOX/sim.out"
[[ -n "$PORT" ]] || { echo "tolvaren-sim served no port" >&2; exit 1; }

CLI="$BUILD_DIR/cli/tolvaren-cli"
"$CLI" dump --port "$PORT" > "$SANDBOX/found.json"
printf 'I1,Boiler flow,KT-IN-01,\r\nI2,Boiler return,KT-IN-02,\r\n' > "$SANDBOX/visit.csv"
"$CLI" import-csv --port "$PORT" --yes "$SANDBOX/visit.csv" > /dev/null
"$CLI" report --port "$PORT" --as-found "$SANDBOX/found.json" "$SANDBOX/report.pdf"
mkdir -p "$(dirname "$OUT")"
pdftoppm -png -r 80 -f 1 -l 1 -singlefile "$SANDBOX/report.pdf" "${OUT%.png}"
echo "$OUT"
