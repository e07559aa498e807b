#!/usr/bin/env bash
# The Debian package kestrix_VERSION_amd64.deb, in the current folder, from the programs of
# a build: the window, the command line, the sample maker, their manual pages, the desktop
# entry and icon, the bash completion, the README, the sample data files and the about
# library. Then hardening-check on every binary and lintian, which must find no error and no
# warning.
#   tools/package.sh BUILD
set -euo pipefail
build=${1:-build}
root=$(cd "$(dirname "$0")/.." && pwd)
umask 022

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[ -n "$version" ] || { echo "package: no project version in $build/CMakeCache.txt" >&2; exit 1; }
deb="kestrix_${version}_amd64.deb"
# Dated by the last commit, so that the same tree gives the same package.
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct 2>/dev/null || date +%s)}
maintainer="Kestrix transfer developers <kestrix@example.org>"

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
pkg=$stage/debian/kestrix
doc=$pkg/usr/share/doc/kestrix

put() {   # put MODE SOURCE TARGET: one file into the package tree
    install -D -m "$1" "$2" "$pkg/$3"
}
put_gz() {   # put_gz SOURCE TARGET: compressed, as policy wants for manual pages and documents
    mkdir -p "$(dirname "$pkg/$2")"
    gzip -9nc "$1" > "$pkg/$2"
    chmod 0644 "$pkg/$2"
}

for program in kestrix kestrix-cli kestrix-sample; do
    put 0755 "$build/$program" "usr/bin/$program"
    strip --remove-section=.comment --remove-section=.note "$pkg/usr/bin/$program"
done
# The about library, in the program's private library folder where the window looks first.
put 0644 "$build/libkestrix-about.so" usr/lib/kestrix/libkestrix-about.so
strip --strip-unneeded --remove-section=.comment --remove-section=.note "$pkg/usr/lib/kestrix/libkestrix-about.so"
# Every binary built with the hardening flags (stripped copies keep what the checks look for).
# Control-flow protection is left out: Debian 12's C start files carry no CET marking, so no
# program linked here can have it.
hardening-check --quiet --nocfprotection "$pkg"/usr/bin/* "$pkg/usr/lib/kestrix/libkestrix-about.so"
for page in kestrix kestrix-cli kestrix-sample; do
    put_gz "$root/packaging/$page.1" "usr/share/man/man1/$page.1.gz"
done
put 0644 "$root/packaging/kestrix.desktop" usr/share/applications/kestrix.desktop
put 0644 "$root/src/gui/icons/kestrix.png" usr/share/icons/hicolor/128x128/apps/kestrix.png
put 0644 "$root/packaging/kestrix-cli.bash-completion" usr/share/bash-completion/completions/kestrix-cli
put 0644 "$root/samples/schema/old.sql" usr/share/kestrix/schema/old.sql
put 0644 "$root/samples/schema/new.sql" usr/share/kestrix/schema/new.sql

put 0644 "$root/packaging/copyright" usr/share/doc/kestrix/copyright
put 0644 "$root/packaging/lintian-overrides" usr/share/lintian/overrides/kestrix
put_gz "$root/README.md" usr/share/doc/kestrix/README.md.gz
(cd "$root/samples/app" && find . -type f) | sort | while read -r file; do
    put 0644 "$root/samples/app/$file" "usr/share/doc/kestrix/examples/${file#./}"
done
{
    printf 'kestrix (%s) unstable; urgency=medium\n\n' "$version"
    printf '  * Kestrix transfer %s.\n\n' "$version"
    printf ' -- %s  %s\n' "$maintainer" "$(date -u -R -d "@$SOURCE_DATE_EPOCH")"
} > "$stage/changelog"
put_gz "$stage/changelog" usr/share/doc/kestrix/changelog.gz

# Libraries the programs link to, as dpkg-shlibdeps finds them; the client library and the
# embedded engine are loaded at run time, so they are named here, as are isql-fb, which
# kestrix-sample runs, and Qt's own Russian texts, which the window loads.
mkdir -p "$pkg/DEBIAN"
printf 'Source: kestrix\n\nPackage: kestrix\nArchitecture: amd64\n' > "$stage/debian/control"
shlibs=$(cd "$stage" && dpkg-shlibdeps -O debian/kestrix/usr/bin/kestrix debian/kestrix/usr/bin/kestrix-cli \
         debian/kestrix/usr/bin/kestrix-sample debian/kestrix/usr/lib/kestrix/libkestrix-about.so \
         | sed -n 's/^shlibs:Depends=//p')

cat > "$pkg/DEBIAN/control" <<EOF
Package: kestrix
Version: $version
Architecture: amd64
Maintainer: $maintainer
Installed-Size: $(du -sk --apparent-size "$pkg/usr" | cut -f1)
Depends: $shlibs, libfbclient2, firebird3.0-server-core, firebird3.0-utils, qt6-translations-l10n
Section: database
Priority: optional
Description: moves an access-control installation between Firebird databases
 Kestrix transfer moves the data of an access-control installation from one
 Firebird database into a new one of the same schema, possibly of a newer
 schema version: hosts, controllers and their devices, zones, macros, card
 holders with photos, schedules, rights, settings, and optionally the event and
 alarm journals from a chosen date. Device tables get new keys in the
 destination, and every reference to them is translated. The source is only
 ever read.
 .
 The package holds the window (kestrix), its command-line twin (kestrix-cli),
 and kestrix-sample, which makes a sample installation to try them on.
EOF
(cd "$pkg" && find usr -type f | sort | xargs md5sum) > "$pkg/DEBIAN/md5sums"
chmod 0644 "$pkg/DEBIAN/control" "$pkg/DEBIAN/md5sums"
find "$pkg" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +

dpkg-deb --root-owner-group -Zxz --build "$pkg" "$deb" >/dev/null
echo "package: $deb"
lintian --fail-on error,warning --info --display-experimental --pedantic "$deb"
