# Installs what building and running Velantor needs, when it is missing.
# Sourced by the other scripts; works as root, through sudo, or through su
# where sudo is not installed.
#
# Only packages that dpkg does not list as installed are handed to apt-get:
# with everything in place nothing is called, so the scripts work offline and
# never ask for a password. The names are those of real Debian packages, not
# names that another package merely provides, which dpkg-query never finds.

# package|what it is needed for
velantor_packages=(
    "build-essential|Compiler und Werkzeuge zum Bauen"
    "cmake|Bausteuerung"
    "ninja-build|Bausteuerung"
    "pkg-config|Bausteuerung"
    "qt6-base-dev|Qt 6: Fenster, Druck, Tests"
    "qt6-serialport-dev|Qt 6: serielle Schnittstelle zum Controller"
    "qt6-svg-dev|Qt 6: SVG-Grafiken für Symbole und Handbuch"
    "qt6-httpserver-dev|Qt 6: Web-Handregler (Seite im Browser)"
    "qt6-websockets-dev|Qt 6: Web-Handregler (Verbindung zur Seite)"
    "libqrencode-dev|QR-Code der Web-Handregler-Adresse"
    "qt6-qpa-plugins|Qt 6: Anzeige unter X11 und Wayland"
    "qt6-translations-l10n|Qt 6: deutsche Texte in Dateidialogen und Menüs"
    "libgl-dev|OpenGL-Kopfdateien, die Qt 6 verlangt"
    "xdg-utils|Öffnen von Handbuch und Internetseite"
    "desktop-file-utils|Prüfung der Menüeinträge in den Tests"
    "appstream|Prüfung der AppStream-Metadaten in den Tests"
    "poppler-utils|Prüfung des Handbuchs (PDF) in den Tests"
    "chromium|Browser-Tests des Web-Handreglers"
    "chromium-driver|Browser-Tests des Web-Handreglers"
    "python3-selenium|Browser-Tests des Web-Handreglers"
)

velantor_package_installed() {
    dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}

# Further arguments are more packages, as "name" or "name|reason".
velantor_install_packages() {
    local missing=() reasons=()
    local entry package reason
    for entry in "${velantor_packages[@]}" "$@"; do
        package="${entry%%|*}"
        velantor_package_installed "$package" && continue
        reason="${entry#*|}"
        [ "$reason" = "$entry" ] && reason="wird gebraucht"
        missing+=("$package")
        reasons+=("$(printf '  %-22s %s' "$package" "$reason")")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Diese Pakete fehlen und werden jetzt mit apt-get installiert:"
    printf '%s\n' "${reasons[@]}"
    local install="DEBIAN_FRONTEND=noninteractive apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends ${missing[*]}"
    if [ "$(id -u)" -eq 0 ]; then
        bash -c "$install"
    elif command -v sudo >/dev/null 2>&1; then
        echo "Dafür fragt sudo nach Ihrem Passwort."
        sudo bash -c "$install"
    else
        # A Debian installed with a root password often has no sudo. Root's
        # login environment: a user's PATH has no /usr/sbin, and dpkg refuses
        # to run without it.
        echo "sudo ist nicht installiert; su fragt nach dem Passwort von root."
        su - root -c "$install"
    fi
}

# Configures and builds into $1 (default: build/ in the source tree). Further
# arguments starting with -D go to cmake's configure step; the others name the
# targets to build (without any, everything is built).
velantor_build() {
    local source_dir build_dir argument
    local configure=() targets=()
    source_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
    build_dir="${1:-$source_dir/build}"
    for argument in "${@:2}"; do
        case "$argument" in
            -D*) configure+=("$argument") ;;
            *) targets+=(--target "$argument") ;;
        esac
    done
    cmake -S "$source_dir" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${configure[@]}" >/dev/null
    cmake --build "$build_dir" -j"$(nproc)" "${targets[@]}"
}
