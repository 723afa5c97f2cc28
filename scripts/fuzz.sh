#!/usr/bin/env bash
# Runs the fuzz targets with libFuzzer and merges what they find into fuzz/corpus/.
#
#   scripts/fuzz.sh [seconds] [target...]
#
# seconds: run time of each target (default 60; 0 builds only). Targets are the names of fuzz/<Name>Fuzz.cpp
# (default: all). Builds build-fuzz with clang, AddressSanitizer and UndefinedBehaviorSanitizer.
# Crashing inputs land in fuzz/findings/<target>/ (not kept in git); new coverage is merged into
# the target's corpus folder. Prints one line per target: time, executions, new corpus files,
# crashes. Exits non-zero when any target crashed.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD_DIR="$ROOT/build-fuzz"
FINDINGS="$ROOT/fuzz/findings"

SECONDS_PER_TARGET=60
if [[ $# -gt 0 && "$1" =~ ^[0-9]+$ ]]; then
    SECONDS_PER_TARGET="$1"
    shift
fi
TARGETS=("$@")
if ((${#TARGETS[@]} == 0)); then
    for source in "$ROOT"/fuzz/*Fuzz.cpp; do
        name="$(basename "$source" .cpp)"
        TARGETS+=("${name%Fuzz}")
    done
fi

# clang with its sanitizer and libFuzzer runtimes, and the libraries the layers need, installed
# the way setup.sh installs them.
PACKAGES=(
    clang libclang-rt-dev cmake ninja-build ccache qtbase5-dev
    libboost-dev libboost-thread-dev libboost-system-dev libboost-filesystem-dev
    libboost-chrono-dev libgtest-dev libgmock-dev libmodbus-dev
)
# shellcheck source=scripts/packages.sh
source "$ROOT/scripts/packages.sh"

install_missing_packages "${PACKAGES[@]}"

export CCACHE_BASEDIR="$ROOT" CCACHE_NOHASHDIR=1
LAUNCHER=()
command -v ccache >/dev/null && LAUNCHER=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
if [[ ! -f "$BUILD_DIR/build.ninja" ]]; then
    CC=clang CXX=clang++ cmake -S "$ROOT" -B "$BUILD_DIR" -G Ninja "${LAUNCHER[@]}" \
        -DTOLVAREN_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOLVAREN_BUILD_BENCH=OFF
fi
BINARIES=()
for target in "${TARGETS[@]}"; do
    [[ -f "$ROOT/fuzz/${target}Fuzz.cpp" ]] || { echo "no fuzz target $target" >&2; exit 2; }
    BINARIES+=("tolvaren_fuzz_$target")
done
cmake --build "$BUILD_DIR" --target "${BINARIES[@]}"
((SECONDS_PER_TARGET > 0)) || exit 0

# Qt keeps a few bytes for the life of the process; nothing of ours is suppressed.
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

# The repository keeps at most MAX_CORPUS_FILES per target: past that the corpus is minimised
# again on edges alone (hit counts ignored), starting from the seeds and the inputs that once
# failed, which are always kept.
MAX_CORPUS_FILES=300
keep_corpus_small() {
    local target="$1" corpus="$2" log="$3"
    (($(find "$corpus" -type f | wc -l) > MAX_CORPUS_FILES)) || return 0
    local kept="$BUILD_DIR/fuzz-work/$target.kept"
    rm -rf "$kept"
    mkdir -p "$kept"
    find "$corpus" -type f \( -name 'seed-*' -o -name 'crash-*' -o -name 'timeout-*' \
        -o -name 'leak-*' -o -name 'oom-*' \) -exec cp {} "$kept/" \;
    "$BUILD_DIR/fuzz/tolvaren_fuzz_$target" -merge=1 -use_counters=0 "$kept" "$corpus" \
        >>"$log" 2>&1 || return 0
    find "$corpus" -type f -delete
    cp "$kept"/* "$corpus/"
}

REPORT=()
FAILED=0
for target in "${TARGETS[@]}"; do
    corpus="$ROOT/fuzz/corpus/$target"
    work="$BUILD_DIR/fuzz-work/$target"
    log="$BUILD_DIR/fuzz-work/$target.log"
    mkdir -p "$corpus" "$FINDINGS/$target"
    rm -rf "$work"
    mkdir -p "$work"
    cp -a "$corpus/." "$work/"
    before=$(find "$corpus" -type f | wc -l)
    crashes_before=$(find "$FINDINGS/$target" -type f | wc -l)
    echo "== $target: ${SECONDS_PER_TARGET}s"
    start=$(date +%s)
    set +e
    "$BUILD_DIR/fuzz/tolvaren_fuzz_$target" "$work" \
        -max_total_time="$SECONDS_PER_TARGET" -timeout=5 -rss_limit_mb=2048 -max_len=4096 \
        -print_final_stats=1 -artifact_prefix="$FINDINGS/$target/" >"$log" 2>&1
    status=$?
    set -e
    elapsed=$(($(date +%s) - start))
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    # The work copy grew; only what adds coverage goes back into the repository's corpus.
    "$BUILD_DIR/fuzz/tolvaren_fuzz_$target" -merge=1 "$corpus" "$work" >>"$log" 2>&1 || true
    added=$(($(find "$corpus" -type f | wc -l) - before))
    keep_corpus_small "$target" "$corpus" "$log"
    files=$(find "$corpus" -type f | wc -l)
    crashes=$(($(find "$FINDINGS/$target" -type f | wc -l) - crashes_before))
    if ((status != 0)); then
        FAILED=1
        tail -n 40 "$log"
    fi
    REPORT+=("$(printf '%-16s %7s %12s %10s %7s %8s' "$target" "$elapsed" "${execs:-?}" \
        "$added" "$files" "$crashes")")
done

printf '%-16s %7s %12s %10s %7s %8s\n' target seconds executions new-files corpus crashes
printf '%s\n' "${REPORT[@]}"
exit "$FAILED"
