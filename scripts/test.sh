#!/usr/bin/env bash
# Installs what is missing, builds and runs every test.
#   scripts/test.sh              the normal build (build/)
#   scripts/test.sh --sanitize   everything under AddressSanitizer and UBSan (build-asan/)
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

BUILD_DIR="$ROOT/build"
SETUP_ARGS=()
if [[ "${1:-}" == "--sanitize" ]]; then
    BUILD_DIR="$ROOT/build-asan"
    SETUP_ARGS+=(--sanitize)
    export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1"
    export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
fi

"$ROOT/scripts/setup.sh" "${SETUP_ARGS[@]}"
cd "$BUILD_DIR"
ctest --output-on-failure -j "$(nproc)" --timeout 300
