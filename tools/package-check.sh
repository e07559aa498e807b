#!/usr/bin/env bash
# The package as a user meets it: installs kestrix_*.deb with apt-get, makes a sample
# installation with the installed kestrix-sample in a temporary folder, runs the installed
# kestrix-cli on it with a copy of the installed examples, asks the installed window for its
# version and help, looks for the about library's entry point, and removes the package and
# whatever its installation pulled in, also on failure.
#   tools/package-check.sh [PACKAGE.deb]     (as root, or with sudo)
set -euo pipefail
cd "$(dirname "$0")/.."
SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO="sudo"

if [ $# -ge 1 ]; then
    deb=$1
else
    debs=(kestrix_*_amd64.deb)
    [ "${#debs[@]}" -eq 1 ] && [ -f "${debs[0]}" ] || { echo "package-check: want one kestrix_*_amd64.deb here, found: ${debs[*]}" >&2; exit 1; }
    deb=${debs[0]}
fi
case $deb in /*) ;; *) deb=./$deb ;; esac   # a path, for apt-get
version=$(dpkg-deb -f "$deb" Version)
if dpkg-query -W -f='${db:Status-Status}' kestrix 2>/dev/null | grep -qx installed; then
    echo "package-check: kestrix is installed already; this check installs and removes it" >&2
    exit 1
fi

installed() { dpkg-query -W -f='${db:Status-Status} ${Package}\n' | sed -n 's/^installed //p' | sort; }
before=$(mktemp)
installed > "$before"
work=$(mktemp -d)
cleanup() {
    status=$?
    set +e
    # The package, then what apt-get installed for it: the machine as it was.
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get purge -y -qq kestrix >/dev/null
    pulled=$(comm -13 "$before" <(installed))
    if [ -n "$pulled" ]; then
        # shellcheck disable=SC2086
        DEBIAN_FRONTEND=noninteractive $SUDO apt-get purge -y -qq $pulled >/dev/null
    fi
    comm -3 "$before" <(installed) | sed 's/^/package-check: left changed: /'
    rm -rf "$work" "$before"
    [ "$status" -eq 0 ] && echo "package-check: removed again" || echo "package-check: FAILED" >&2
    exit "$status"
}
trap cleanup EXIT

echo "package-check: installing $deb"
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "$deb" >/dev/null

expect() {   # expect WHAT WANTED GOT
    if [ "$2" != "$3" ]; then
        echo "package-check: $1: wanted '$2', got '$3'" >&2
        exit 1
    fi
    echo "package-check: $1: $3"
}
expect "kestrix-cli --version" "kestrix-cli $version" "$(/usr/bin/kestrix-cli --version)"

cp -r /usr/share/doc/kestrix/examples "$work/app"
/usr/bin/kestrix-sample source "$work/source.fdb"
/usr/bin/kestrix-sample dest "$work/dest.fdb"
/usr/bin/kestrix-cli --check --source "$work/source.fdb" --dest "$work/dest.fdb" --app-dir "$work/app" \
    > "$work/check.txt" || { rc=$?; cat "$work/check.txt" >&2; echo "package-check: kestrix-cli --check ended with $rc" >&2; exit 1; }
echo "package-check: kestrix-cli --check: no problem"
/usr/bin/kestrix-cli --source "$work/source.fdb" --dest "$work/dest.fdb" --events-from 2026-01-01 \
    --app-dir "$work/app" > "$work/account.txt" 2> "$work/progress.txt" || {
    cat "$work/progress.txt" "$work/account.txt" >&2
    exit 1
}
# The sample's journals hold one row the copy refuses.
expect "the account's last line" "Every row is accounted for:" "$(tail -n 1 "$work/account.txt" | cut -d' ' -f1-5)"
[ -s "$work/app/Kestrix.log" ] || { echo "package-check: no run log in $work/app" >&2; exit 1; }

expect "kestrix --version" "kestrix $version" "$(QT_QPA_PLATFORM=offscreen /usr/bin/kestrix --version)"
# Help without a display, and the about library where the window looks first, with its entry point.
expect "kestrix --help without a display" "Usage: kestrix [--app-dir DIR]" "$(env -u DISPLAY /usr/bin/kestrix --help | head -n 1)"
expect "the about library's entry point" "show_about" \
    "$(nm -D --defined-only /usr/lib/kestrix/libkestrix-about.so | awk '$3 == "show_about" { print $3 }')"
