#!/usr/bin/env bash
# Packs the build tree given as $1 with cpack into a temporary folder, unpacks the .deb there
# (dpkg-deb -x: nothing is installed on this machine) and checks that a desktop finds the
# program: the commands, the menu entry, its icon in every size, the computed dependencies, the
# unpacked program answering --version, and no lintian error where lintian is installed.
#   check_package.sh BUILD_DIR VERSION SANITIZED(0|1)
set -uo pipefail

BUILD_DIR="$1"
VERSION="$2"
SANITIZED="$3"

if [[ "$SANITIZED" == 1 ]]; then
    echo "SKIP: packages are made from release trees, not from a sanitizer build"
    exit 77
fi

WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

if ! cpack --config "$BUILD_DIR/CPackConfig.cmake" -B "$WORK/out" >"$WORK/cpack.log" 2>&1; then
    cat "$WORK/cpack.log"
    echo "FAIL: cpack"
    exit 1
fi
shopt -s nullglob
debs=("$WORK"/out/*.deb)
if ((${#debs[@]} != 1)); then
    echo "FAIL: expected one .deb, found ${#debs[@]}"
    exit 1
fi
DEB="${debs[0]}"

# Control fields: our version, and dependencies computed from the programs' libraries.
field() { dpkg-deb -f "$DEB" "$1"; }
[[ "$(field Package)" == tolvaren-diagnostics ]] || fail "Package is '$(field Package)'"
[[ "$(field Version)" == "$VERSION-1" ]] || fail "Version is '$(field Version)', not $VERSION-1"
for lib in libqt5widgets5 libqt5core5a libboost-thread libc6; do
    [[ "$(field Depends)" == *"$lib"* ]] || fail "Depends lacks $lib: $(field Depends)"
done

ROOT="$WORK/root"
dpkg-deb -x "$DEB" "$ROOT" || { echo "FAIL: dpkg-deb -x"; exit 1; }

for program in tolvaren TolvarenDiagnostics tolvaren-sim tolvaren-cli; do
    [[ -x "$ROOT/usr/bin/$program" ]] || fail "usr/bin/$program missing or not executable"
done
[[ -f "$ROOT/usr/share/doc/tolvaren-diagnostics/copyright" ]] || fail "no copyright file"

# The menu entry.
entries=("$ROOT"/usr/share/applications/*.desktop)
if ((${#entries[@]} != 1)); then
    fail "expected one desktop entry, found ${#entries[@]}"
else
    entry="${entries[0]}"
    key() { sed -n "s/^$1=//p" "$entry" | head -n 1; }
    [[ "$(key Type)" == Application ]] || fail "Type is '$(key Type)'"
    [[ -n "$(key Name)" ]] || fail "no Name"
    exec_cmd="$(key Exec)"
    exec_cmd="${exec_cmd%% *}"
    if [[ "$exec_cmd" == */* || ! -x "$ROOT/usr/bin/$exec_cmd" ]]; then
        fail "Exec '$exec_cmd' is not a command of the package in /usr/bin"
    fi
    categories="$(key Categories)"
    [[ "$categories" == *";" ]] || fail "Categories '$categories' does not end with ';'"
    main=0
    IFS=';' read -ra cats <<<"$categories"
    for c in "${cats[@]}"; do
        case "$c" in
            AudioVideo|Audio|Video|Development|Education|Game|Graphics|Network|Office|Science|\
            Settings|System|Utility) main=1 ;;
        esac
    done
    ((main)) || fail "Categories '$categories' has no main category: no menu would show it"
    icon="$(key Icon)"
    if [[ -z "$icon" || "$icon" == */* ]]; then
        fail "Icon '$icon' is not a theme icon name"
    fi
    # Every size a desktop asks for, each PNG really of its folder's size.
    for size in 16 22 24 32 48 64 128 256; do
        png="$ROOT/usr/share/icons/hicolor/${size}x${size}/apps/$icon.png"
        if [[ ! -f "$png" ]]; then
            fail "no ${size}x${size} icon"
            continue
        fi
        width=$((16#$(od -An -tx1 -j16 -N4 "$png" | tr -d ' \n')))
        height=$((16#$(od -An -tx1 -j20 -N4 "$png" | tr -d ' \n')))
        [[ "$width x $height" == "$size x $size" ]] ||
            fail "${size}x${size} icon is $width x $height"
    done
    if command -v desktop-file-validate >/dev/null; then
        desktop-file-validate "$entry" || fail "desktop-file-validate"
    fi
fi

# The unpacked programs start and answer (the libraries come from this machine).
answer="$(QT_QPA_PLATFORM=offscreen "$ROOT/usr/bin/tolvaren" --version 2>&1)"
[[ "$answer" == "Tolvaren Diagnostics $VERSION" ]] || fail "tolvaren --version said '$answer'"
answer="$("$ROOT/usr/bin/tolvaren-cli" --version 2>&1)"
[[ "$answer" == "tolvaren-cli $VERSION" ]] || fail "tolvaren-cli --version said '$answer'"
"$ROOT/usr/bin/tolvaren-sim" --help >/dev/null 2>&1 || fail "tolvaren-sim --help failed"

if command -v lintian >/dev/null; then
    lintian "$DEB" >"$WORK/lintian.log" 2>&1
    if grep -q '^E:' "$WORK/lintian.log"; then
        grep '^E:' "$WORK/lintian.log"
        fail "lintian errors"
    fi
else
    echo "lintian is not installed: its checks are left out"
fi

if ((failures)); then
    echo "0 passed, $failures failed"
    exit 1
fi
echo "package: $(basename "$DEB") unpacked and checked"
exit 0
