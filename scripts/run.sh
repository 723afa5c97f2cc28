#!/usr/bin/env bash
# Installs what is missing, builds the program and starts it.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$ROOT/scripts/setup.sh"
if [[ -x "$ROOT/build/app/TolvarenDiagnostics" ]]; then
    exec "$ROOT/build/app/TolvarenDiagnostics" "$@"
fi
echo "Built the libraries and tests; the program itself is not part of the build yet."
