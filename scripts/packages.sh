# Sourced by the set-up scripts: install_missing_packages PKG... installs the Debian packages
# among those given that are not installed (a package removed but not purged counts as missing),
# as root or through sudo, without recommends.
install_missing_packages() {
    local missing=() status pkg
    for pkg in "$@"; do
        status="$(dpkg-query -W -f='${db:Status-Abbrev}' "$pkg" 2>/dev/null || true)"
        [[ "$status" == "ii "* ]] || missing+=("$pkg")
    done
    if ((${#missing[@]} == 0)); then
        return
    fi
    echo "Installing: ${missing[*]}"
    local sudo=()
    if [[ "$(id -u)" != 0 ]]; then
        sudo=(sudo)
    fi
    "${sudo[@]}" apt-get update -q
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q \
        --no-install-recommends "${missing[@]}"
}
