# Installs what building and running Velantor needs, when it is missing.
# Sourced by the other scripts; works as root or through sudo.

velantor_packages=(
    build-essential cmake ninja-build pkg-config
    qt6-base-dev libqt6serialport6-dev qt6-svg-dev qt6-qpa-plugins libgl-dev
    xdg-utils
    # the tests validate the menu entries and the AppStream metainfo with these
    desktop-file-utils appstream
)

velantor_install_packages() {
    local missing=()
    local package
    for package in "${velantor_packages[@]}" "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" \
            || missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installiere fehlende Pakete: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get update -qq
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
        "${missing[@]}"
}

# Configures and builds into $1 (default: build/ in the source tree); further
# arguments go to cmake's configure step.
velantor_build() {
    local source_dir build_dir
    source_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
    build_dir="${1:-$source_dir/build}"
    cmake -S "$source_dir" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${@:2}" >/dev/null
    cmake --build "$build_dir" -j"$(nproc)"
}
