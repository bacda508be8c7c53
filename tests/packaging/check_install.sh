#!/usr/bin/env bash
# Installs the build into a scratch directory and checks the layout that the
# package and the program rely on:
#
#   check_install.sh BUILD_DIR SCRATCH_DIR
set -euo pipefail
build=$1
stage=$2
rm -rf "$stage"
cmake --install "$build" --prefix "$stage/usr" >/dev/null

fail() {
    echo "FAIL: $*"
    exit 1
}

usr=$stage/usr
lib=$usr/lib/velantor
for program in kzVelantor kzhp; do
    [ -x "$lib/$program" ] || fail "$lib/$program is missing"
    link=$usr/bin/$program
    [ -L "$link" ] || fail "$link is no symbolic link"
    # Relative, so that the link holds wherever the tree is unpacked.
    [ "$(readlink "$link")" = "../lib/velantor/$program" ] || fail "$link points elsewhere"
    [ "$(readlink -f "$link")" = "$(readlink -f "$lib/$program")" ] || fail "$link does not resolve"
done

# Help opens the manual from the directory of the running executable, which
# is where the link on the PATH leads.
manual=$(dirname "$(readlink -f "$usr/bin/kzVelantor")")/Handbuch_Velantor.pdf
[ -s "$manual" ] || fail "no manual beside the program"
head -c 5 "$manual" | grep -q '%PDF-' || fail "the manual is no PDF"

# Every menu entry starts a program on the PATH and shows an installed icon.
entries=("$usr"/share/applications/*.desktop)
[ ${#entries[@]} -eq 2 ] || fail "expected two menu entries, found ${#entries[@]}"
for entry in "${entries[@]}"; do
    program=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$entry")
    [ -e "$usr/bin/$program" ] || fail "$entry starts $program, which is not installed"
    icon=$(sed -n 's/^Icon=//p' "$entry")
    [ -f "$usr/share/icons/hicolor/scalable/apps/$icon.svg" ] || fail "no scalable icon $icon"
    for size in 16 24 32 48 64 128 256; do
        png=$usr/share/icons/hicolor/${size}x${size}/apps/$icon.png
        [ -s "$png" ] || fail "no icon $png"
    done
done

# The metainfo is named after its id and launches an installed menu entry.
metainfo=("$usr"/share/metainfo/*.metainfo.xml)
[ ${#metainfo[@]} -eq 1 ] || fail "expected one metainfo file"
id=$(sed -n 's:.*<id>\(.*\)</id>.*:\1:p' "${metainfo[0]}")
[ "$(basename "${metainfo[0]}")" = "$id.metainfo.xml" ] || fail "metainfo not named after $id"
launchable=$(sed -n 's:.*<launchable type="desktop-id">\(.*\)</launchable>.*:\1:p' "${metainfo[0]}")
[ -f "$usr/share/applications/$launchable" ] || fail "metainfo launches missing $launchable"

echo "install layout OK"
