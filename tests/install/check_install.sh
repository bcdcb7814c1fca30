#!/bin/sh
# Installs the build into a temporary prefix and checks what a package of it would hold: every file in its place,
# the versions the programs print, the unit starting the installed quorvel-cli, a valid desktop entry whose icon is
# installed, and a man page that renders without a warning. A checking tool that is missing is reported as skipped;
# scripts/install-deps installs them all.
# Arguments: cmake, build directory, project version, then the bin, data, man and user unit directories as the build
# configured them, then "with-desktop-program" or "cli-only".
set -u
[ $# -eq 8 ] || {
    echo "usage: $0 CMAKE BUILD VERSION BINDIR DATADIR MANDIR UNITDIR with-desktop-program|cli-only" >&2
    exit 2
}
cmake=$1 build=$2 version=$3 bindir=$4 datadir=$5 mandir=$6 unitdir=$7 programs=$8

prefix=$(mktemp -d "${TMPDIR:-/tmp}/quorvel-install-XXXXXX") || exit 1
trap 'rm -rf "$prefix"' EXIT
failures=0
fail() {
    echo "FAILED: $*"
    failures=$((failures + 1))
}
skip() { echo "SKIPPED: $*"; }
# A configured directory below the prefix, or as it stands when the build was given an absolute one.
installed() {
    case $1 in
    /*) echo "$1" ;;
    *) echo "$prefix/$1" ;;
    esac
}

if ! output=$("$cmake" --install "$build" --prefix "$prefix" 2>&1); then
    echo "$output"
    echo "FAILED: cmake --install"
    exit 1
fi

cli=$(installed "$bindir")/quorvel-cli
desktop_entry=$(installed "$datadir")/applications/quorvel.desktop
icon_directory=$(installed "$datadir")/icons/hicolor/scalable/apps
unit=$(installed "$unitdir")/quorvel-listen.service
man_page=$(installed "$mandir")/man1/quorvel-cli.1
metainfo=$(installed "$datadir")/metainfo/io.quorvel.Quorvel.metainfo.xml
for file in "$desktop_entry" "$icon_directory/quorvel.svg" "$metainfo" "$unit" "$man_page"; do
    [ -f "$file" ] || fail "$file was not installed"
done

if [ -x "$cli" ]; then
    printed=$("$cli" --version 2>&1)
    [ "$printed" = "quorvel-cli $version" ] || fail "quorvel-cli --version printed '$printed', not 'quorvel-cli $version'"
else
    fail "$cli was not installed as a program"
fi
if [ "$programs" = with-desktop-program ]; then
    gui=$(installed "$bindir")/quorvel
    if [ -x "$gui" ]; then
        # Qt may talk about the platform on stderr; the version goes to stdout.
        printed=$(QT_QPA_PLATFORM=offscreen "$gui" --version 2>/dev/null)
        [ "$printed" = "quorvel $version" ] || fail "quorvel --version printed '$printed', not 'quorvel $version'"
    else
        fail "$gui was not installed as a program"
    fi
fi

# The unit must start the binary installed with it, wherever the prefix was, not the one of the configured prefix.
if [ -f "$unit" ]; then
    grep -Fqx "ExecStart=$cli listen" "$unit" || fail "$unit does not start '$cli listen': $(grep '^ExecStart=' "$unit")"
fi

if [ -f "$desktop_entry" ]; then
    icon=$(sed -n 's/^Icon=//p' "$desktop_entry")
    [ -f "$icon_directory/$icon.svg" ] || fail "the desktop entry's icon '$icon' is not in $icon_directory"
    if command -v desktop-file-validate >/dev/null 2>&1; then
        # Hints and warnings count too: they are what a distribution's checks complain about.
        if ! report=$(desktop-file-validate "$desktop_entry" 2>&1) || [ -n "$report" ]; then
            fail "desktop-file-validate: $report"
        fi
    else
        skip "desktop-file-validate is not installed (package desktop-file-utils)"
    fi
fi

if [ -f "$icon_directory/quorvel.svg" ]; then
    if command -v xmllint >/dev/null 2>&1; then
        report=$(xmllint --noout "$icon_directory/quorvel.svg" 2>&1) || fail "the icon is not well-formed: $report"
    else
        skip "xmllint is not installed (package libxml2-utils)"
    fi
fi

if [ -f "$man_page" ]; then
    if command -v groff >/dev/null 2>&1; then
        if ! report=$(groff -man -Tutf8 -ww -z "$man_page" 2>&1) || [ -n "$report" ]; then
            fail "the man page: $report"
        fi
    else
        skip "groff is not installed (package groff-base)"
    fi
fi

[ "$failures" -eq 0 ] || exit 1
echo "installed layout checked in $prefix"
