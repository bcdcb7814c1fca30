#!/bin/bash
# Packages this Release build with scripts/package and checks the packages as Debian does (lintian, the AppStream
# metadata), then installs them into this system for real: the programs print their version, the desktop entry is
# valid, the user unit lies where the user manager looks, and removing and purging leave nothing of theirs behind.
# Needs root and this system's dpkg, and never replaces a Quorvel someone else installed; exits 77 (reported as
# skipped by CTest) without them.
# Usage: package_test.sh SOURCE_DIR BUILD_DIR VERSION
set -u
source_dir=$1 build=$2 version=$3
skip() {
    echo "SKIPPED: $*"
    exit 77
}
fail() {
    echo "FAILED: $*"
    exit 1
}
[ "$(id -u)" -eq 0 ] || skip "installing a package needs root"
[ -w /var/lib/dpkg/status ] || skip "this system's dpkg database cannot be written here"
for tool in dpkg-shlibdeps file lintian appstreamcli desktop-file-validate systemd-analyze; do
    command -v "$tool" >/dev/null || skip "$tool is not installed (scripts/install-deps installs it)"
done
packages=(quorvel quorvel-cli)
for package in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null)
    [ -z "$status" ] || [ "$status" = not-installed ] || skip "the package $package is on this system already"
done

work=$(mktemp -d "${TMPDIR:-/tmp}/quorvel-package-XXXXXX") || exit 1
installed=false
cleanup() {
    if $installed; then dpkg --purge "${packages[@]}" >/dev/null 2>&1; fi
    rm -rf "$work"
}
trap cleanup EXIT
run() { # what, command...: the command's output only when it fails
    local what=$1
    shift
    "$@" >"$work/log" 2>&1 || fail "$what: $(cat "$work/log")"
}

run "scripts/package" "$source_dir/scripts/package" "$build" "$work"
arch=$(dpkg --print-architecture)
debs=("$work/quorvel-cli_${version}_$arch.deb" "$work/quorvel_${version}_$arch.deb")
for deb in "${debs[@]}"; do
    [ -f "$deb" ] || fail "scripts/package made no $(basename "$deb"), only: $(ls "$work")"
done

# No errors, and only the warning known to stay: the desktop program has no manual page of its own yet.
report=$(lintian --fail-on error "${debs[@]}" 2>&1) || fail "lintian: $report"
warnings=$(grep '^W:' <<<"$report" | grep -vFx 'W: quorvel: no-manual-page [usr/bin/quorvel]')
[ -z "$warnings" ] || fail "lintian warns: $warnings"

# What the packages hold that is not on this system yet; anything else must be a directory others share.
new_paths=()
while read -r path; do
    if [ ! -e "$path" ]; then
        new_paths+=("$path")
    elif [ ! -d "$path" ]; then
        skip "$path is on this system already; installing would replace it"
    fi
done < <(for deb in "${debs[@]}"; do dpkg-deb --fsys-tarfile "$deb" | tar -t; done | sed 's|^\.||; s|/$||' | grep .)
left_behind() {
    local path
    for path in "${new_paths[@]}" /var/lib/dpkg/info/quorvel.* /var/lib/dpkg/info/quorvel-cli.*; do
        [ -e "$path" ] && echo "$path"
    done
}

installed=true
run "dpkg -i" dpkg -i "${debs[@]}"
depends=$(dpkg-query -W -f='${Depends}' quorvel-cli)
[[ $depends == *libssl3* && $depends != *libqt6* ]] ||
    fail "quorvel-cli should depend on the libraries it links and on no Qt, not on: $depends"
depends=$(dpkg-query -W -f='${Depends}' quorvel)
[[ $depends == *"quorvel-cli (= $version)"* && $depends == *libqt6widgets6* ]] ||
    fail "quorvel should depend on quorvel-cli $version and on Qt, not on: $depends"
for file in /usr/share/man/man1/quorvel-cli.1.gz /usr/share/icons/hicolor/scalable/apps/quorvel.svg \
    /usr/share/doc/quorvel/copyright /usr/share/doc/quorvel-cli/copyright; do
    [ -f "$file" ] || fail "$file was not installed"
done
printed=$(/usr/bin/quorvel-cli --version 2>&1)
[ "$printed" = "quorvel-cli $version" ] || fail "quorvel-cli --version printed '$printed', not 'quorvel-cli $version'"
printed=$(/usr/bin/quorvel --version 2>&1)
[ "$printed" = "quorvel $version" ] || fail "quorvel --version printed '$printed', not 'quorvel $version'"
# Hints count as much as errors: they are what a distribution's checks complain about.
if ! report=$(desktop-file-validate /usr/share/applications/quorvel.desktop 2>&1) || [ -n "$report" ]; then
    fail "desktop-file-validate: $report"
fi
# Only pedantic remarks may stay: the one it makes is that the id io.quorvel.Quorvel has a capital letter.
metainfo=/usr/share/metainfo/io.quorvel.Quorvel.metainfo.xml
if ! report=$(appstreamcli validate --no-net "$metainfo" 2>&1) || grep -q '^[EWI]:' <<<"$report"; then
    fail "appstreamcli validate: $report"
fi
unit=/usr/lib/systemd/user/quorvel-listen.service
[ -f "$unit" ] || fail "$unit was not installed"
systemd-analyze --user unit-paths | grep -qx "$(dirname "$unit")" ||
    fail "the user manager does not look in $(dirname "$unit")"
grep -qx 'ExecStart=/usr/bin/quorvel-cli listen' "$unit" || fail "$unit starts $(grep '^ExecStart=' "$unit")"

run "dpkg -r" dpkg -r "${packages[@]}"
left=$(left_behind)
[ -z "$left" ] || fail "dpkg -r left behind: $left"
run "dpkg --purge" dpkg --purge "${packages[@]}"
installed=false
for package in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null)
    [ -z "$status" ] || [ "$status" = not-installed ] || fail "$package is still known to dpkg as $status"
done
left=$(left_behind)
[ -z "$left" ] || fail "dpkg --purge left behind: $left"
echo "packages built, checked, installed and removed: ${debs[*]##*/}"
