#!/usr/bin/env bash
# Builds the Debian package (cpack -G DEB) from the default preset and prints
# its path. With --check it also lists the package, checks that the programs,
# desktop entry, icon, man pages and documents are in it, checks the control
# fields and the desktop entry, runs lintian (an error or a warning fails),
# then installs the package, starts it from a fresh home folder, and removes
# it again (tests/package/install_check.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default --target morvia morvia-edl dvdsim morvia_package_files
out=build/default/package
rm -rf "$out"
(cd build/default && cpack -G DEB -B package >/dev/null)
debs=("$out"/morvia_*.deb)
deb=${debs[0]}
[ -f "$deb" ] || { echo "package: no .deb was made" >&2; exit 1; }
echo "package: $deb"
[ "${1:-}" = --check ] || exit 0

fail() { echo "package check: $*" >&2; exit 1; }
listing=$(dpkg-deb -c "$deb")
echo "$listing" | awk '{print $1, $2, $NF}'
for f in usr/bin/morvia usr/bin/morvia-edl usr/bin/dvdsim usr/bin/morvia-launcher \
         usr/share/applications/morvia.desktop usr/share/icons/hicolor/scalable/apps/morvia.svg \
         usr/share/man/man1/morvia.1.gz usr/share/man/man1/morvia-edl.1.gz usr/share/man/man1/dvdsim.1.gz \
         usr/share/man/man1/morvia-launcher.1.gz \
         usr/share/doc/morvia/README.md usr/share/doc/morvia/Settings.txt \
         usr/share/doc/morvia/copyright usr/share/doc/morvia/changelog.gz; do
  grep -Eq "[[:space:]]\./$f\$" <<<"$listing" || fail "$f is missing"
done
for f in usr/bin/morvia usr/bin/morvia-edl usr/bin/dvdsim usr/bin/morvia-launcher; do
  grep -Eq "^-rwxr-xr-x .*[[:space:]]\./$f\$" <<<"$listing" || fail "$f is not executable"
done

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = morvia ] || fail "Package is '$(field Package)'"
[ "$(field Architecture)" = "$(dpkg --print-architecture)" ] || fail "Architecture is '$(field Architecture)'"
[ -n "$(field Version)" ] || fail "no Version"
[ -n "$(field Maintainer)" ] || fail "no Maintainer"
[ "$(field Recommends)" = "fonts-urw-base35, xwayland" ] || fail "Recommends is '$(field Recommends)'"
depends=$(field Depends)
for lib in libc6 libstdc++6 libqt6widgets6 libqt6gui6 libqt6core6; do
  grep -Eq "(^|, )${lib//+/\\+}( |,|$)" <<<"$depends" || fail "Depends lacks $lib: $depends"
done
desc=$(field Description)
[ "$(wc -l <<<"$desc")" -ge 2 ] || fail "Description has no long text"
echo "control: Package $(field Package), Version $(field Version), Architecture $(field Architecture)"
echo "control: Depends $depends"
echo "control: Recommends $(field Recommends)"

# The desktop entry starts the launcher that the package installs.
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
dpkg-deb -x "$deb" "$tmp"
grep -qx "Exec=morvia-launcher" "$tmp/usr/share/applications/morvia.desktop" || fail "desktop entry does not run morvia-launcher"
"$tmp/usr/bin/morvia-edl" --help | grep -q "^usage: morvia-edl export" || fail "morvia-edl --help"
if ! validation=$(desktop-file-validate "$tmp/usr/share/applications/morvia.desktop" 2>&1) || [ -n "$validation" ]; then
  fail "desktop-file-validate: $validation"
fi
echo "desktop entry: desktop-file-validate passes"
! dpkg-deb --ctrl-tarfile "$deb" | tar -t | grep -q conffiles || fail "the package has conffiles"

tags=$(lintian --tag-display-limit 0 --display-info --pedantic "$deb" 2>/dev/null || true)
echo "lintian: ${tags:-no tags}"
! grep -q "^[EW]: " <<<"$tags" || fail "lintian reports errors or warnings"

# Installed, started twice from a fresh home folder, removed.
tests/package/install_check.sh "$deb"
echo "package check: OK"
