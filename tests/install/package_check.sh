#!/usr/bin/env bash
# The packages as users get them, after the builds: the Debian package is made, checked
# by lintian (errors fail), installed with dpkg -i and used from the PATH on the example
# site; the Windows release zip is made and its contents listed.
#
# Installs the package on this machine (CI's, as root) and removes it again at the end.
set -euo pipefail
cd "$(dirname "$0")/../.."
src=$PWD
SUDO=
if [ "$(id -u)" != 0 ]; then SUDO=sudo; fi
fail() { echo "FAIL $*"; exit 1; }

version=$(sed -n 's/^#define QB_VERSION "\(.*\)"$/\1/p' build/linux/generated/qb_version.h)
[ -n "$version" ] || fail "no version in build/linux/generated/qb_version.h"

echo "--- cpack -G DEB"
(cd build/linux && rm -f quillbox_*.deb && cpack -G DEB >cpack.log) || { cat build/linux/cpack.log; fail cpack; }
deb=$(ls build/linux/quillbox_"$version"_*.deb)
dpkg-deb --info "$deb"
dpkg-deb --contents "$deb"

echo "--- lintian"
lintian --fail-on error --info "$deb" || fail "lintian reports errors"

echo "--- dpkg -i"
$SUDO dpkg -i "$deb"
trap '$SUDO dpkg --purge quillbox >/dev/null' EXIT
[ "$(command -v quillbox)" = /usr/bin/quillbox ] || fail "quillbox on the PATH is $(command -v quillbox)"
quillbox --version
[ "$(quillbox --version)" = "quillbox $version" ] || fail "quillbox --version"
man -w quillbox spillet

echo "--- the example from the installed files"
work=$(mktemp -d)
trap '$SUDO dpkg --purge quillbox >/dev/null; rm -rf "$work"' EXIT
mkdir "$work/home" "$work/bin"
# spillet hands the page to xdg-open; without a desktop it is only written down.
printf '#!/bin/sh\necho "$1" >>"%s/opened"\n' "$work" >"$work/bin/xdg-open"
chmod +x "$work/bin/xdg-open"
(
    cd "$work"
    export HOME=$work/home PATH=$work/bin:/usr/bin:/bin
    unset XDG_CONFIG_HOME XDG_CACHE_HOME
    quillbox -y -o "$work/site.exe" "$src/examples/site/index.htm"
    spillet "$work/site.exe" "$work/out" </dev/null
) || fail "the installed programs on the example"
ls -l "$work/out"
grep -q 'grabbed for free using' "$work/out/index.htm" || fail "index.htm not unpacked with its footer"
grep -qx "$work/out/index.htm" "$work/opened" || fail "the page was not opened"

echo "--- cpack -G ZIP (win32)"
(cd build/win32 && rm -f quillbox-*.zip && cpack -G ZIP >cpack.log) || { cat build/win32/cpack.log; fail cpack; }
zip=build/win32/quillbox-$version-win32.zip
unzip -l "$zip"
listed=$(unzip -Z1 "$zip" | LC_ALL=C sort | tr '\n' ' ')
want="quillbox-$version-win32/ExtractQLBX_Lite.exe quillbox-$version-win32/README.txt quillbox-$version-win32/quillbox.exe "
[ "$listed" = "$want" ] || fail "the zip holds $listed"
echo "PACKAGES PASSED"
