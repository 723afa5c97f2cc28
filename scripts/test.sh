#!/usr/bin/env bash
# Installs what is missing, builds and runs every test.
#   scripts/test.sh              the normal build (build/)
#   scripts/test.sh --sanitize   everything under AddressSanitizer and UBSan (build-asan/)
#   scripts/test.sh --tsan       the layers below the windows under ThreadSanitizer (build-tsan/)
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

BUILD_DIR="$ROOT/build"
SETUP_ARGS=()
if [[ "${1:-}" == "--sanitize" ]]; then
    BUILD_DIR="$ROOT/build-asan"
    SETUP_ARGS+=(--sanitize)
    export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1"
    export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
elif [[ "${1:-}" == "--tsan" ]]; then
    BUILD_DIR="$ROOT/build-tsan"
    SETUP_ARGS+=(--tsan)
    # The first report ends the test; both stacks of a lock-order report; a longer history so
    # the earlier access of a race between long-lived threads is still known. Threads still
    # running at exit get 100 ms to race with it, not the default second: every test program,
    # and every tolvaren-cli and tolvaren-sim the tests start, would otherwise idle a second.
    export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:history_size=4:atexit_sleep_ms=100"
fi

"$ROOT/scripts/setup.sh" "${SETUP_ARGS[@]}"
cd "$BUILD_DIR"
# In the sanitizer trees each test program runs in a few shards (see tests/CMakeLists.txt); under
# ThreadSanitizer those serving cards on pseudo-terminals still run one at a time.
ctest --output-on-failure -j "$(nproc)" --timeout 300
