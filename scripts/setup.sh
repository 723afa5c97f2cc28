#!/usr/bin/env bash
# Shared set-up of the README's commands: installs the Debian packages that are missing,
# configures and builds incrementally.
#
#   scripts/setup.sh [--sanitize] [--tsan] [--release] [ninja targets...]
#
# --sanitize builds in build-asan with AddressSanitizer and UndefinedBehaviorSanitizer;
# --tsan builds the layers below the windows and their tests in build-tsan with ThreadSanitizer;
# --release builds in build-release (benchmarks). Otherwise the build folder is build/.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

PACKAGES=(
    build-essential cmake ninja-build pkg-config ccache lld
    qtbase5-dev qtbase5-dev-tools
    libboost-dev libboost-thread-dev libboost-system-dev libboost-filesystem-dev
    libboost-chrono-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    libmodbus-dev python3-pymodbus python3-serial python3-serial-asyncio ser2net
    xvfb xauth fonts-liberation poppler-utils
)

# shellcheck source=scripts/packages.sh
source "$ROOT/scripts/packages.sh"

BUILD_DIR="$ROOT/build"
CMAKE_ARGS=()
TARGETS=()
for arg in "$@"; do
    case "$arg" in
        --sanitize)
            BUILD_DIR="$ROOT/build-asan"
            CMAKE_ARGS+=(-DTOLVAREN_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug -DTOLVAREN_BUILD_BENCH=OFF)
            ;;
        --tsan)
            BUILD_DIR="$ROOT/build-tsan"
            CMAKE_ARGS+=(-DTOLVAREN_TSAN=ON -DTOLVAREN_LOWER_LAYERS_ONLY=ON
                         -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOLVAREN_BUILD_BENCH=OFF)
            ;;
        --release)
            BUILD_DIR="$ROOT/build-release"
            CMAKE_ARGS+=(-DCMAKE_BUILD_TYPE=Release)
            ;;
        *) TARGETS+=("$arg") ;;
    esac
done

install_missing_packages "${PACKAGES[@]}"

# ccache is shared between clones (CI builds a fresh clone in another folder). Depend mode takes
# the headers from the compiler's own dependency list instead of running the preprocessor a
# second time for every source that misses the cache.
export CCACHE_BASEDIR="$ROOT" CCACHE_NOHASHDIR=1 CCACHE_DEPEND=1
LAUNCHER=()
if command -v ccache >/dev/null; then
    LAUNCHER=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

if [[ ! -f "$BUILD_DIR/build.ninja" ]]; then
    cmake -S "$ROOT" -B "$BUILD_DIR" -G Ninja "${LAUNCHER[@]}" "${CMAKE_ARGS[@]}"
fi
cmake --build "$BUILD_DIR" ${TARGETS[@]+--target "${TARGETS[@]}"}
echo "$BUILD_DIR"
