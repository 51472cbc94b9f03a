#!/usr/bin/env bash
# Installs the build into a temporary prefix, moves the prefix elsewhere, and with the
# source and build trees out of reach (hidden under empty mounts when the system lets us,
# and never on the PATH) packs the example site with the installed quillbox and unpacks
# it with the installed spillet.
#
# Usage: install_test.sh CMAKE BUILD_DIR SOURCE_DIR VERSION
set -euo pipefail
cmake=$1 build=$(realpath "$2") src=$(realpath "$3") version=$4

work=$(mktemp -d "${TMPDIR:-/tmp}/qb-install.XXXXXX")
trap '[ -n "${QB_KEEP:-}" ] || rm -rf "$work"' EXIT
fail() { echo "FAIL $*"; exit 1; }

"$cmake" --install "$build" --prefix "$work/stage" >"$work/install.log" ||
    { cat "$work/install.log"; fail "cmake --install"; }
# The installed files find each other from the program's folder, wherever it is.
mv "$work/stage" "$work/prefix"
prefix=$work/prefix

# Exactly the programs and their files; nothing test-only.
expected='bin/quillbox
bin/spillet
share/bash-completion/completions/quillbox
share/bash-completion/completions/spillet
share/doc/quillbox/README.md
share/doc/quillbox/changelog.gz
share/doc/quillbox/copyright
share/man/man1/quillbox.1.gz
share/man/man1/spillet.1.gz
share/quillbox/ExtractQLBX_Lite.exe'
got=$(cd "$prefix" && find . -type f -o -type l | sed 's|^\./||' | LC_ALL=C sort)
[ "$got" = "$expected" ] || fail "installed files differ: $(diff <(echo "$expected") <(echo "$got"))"
echo "ok   the installed files"

# The manual pages render without a warning.
for page in quillbox spillet; do
    warnings=$(zcat "$prefix/share/man/man1/$page.1.gz" | groff -ww -man -Tutf8 -z 2>&1)
    [ -z "$warnings" ] || fail "$page.1: $warnings"
done
echo "ok   the manual pages render without warnings"

cp -r "$src/examples/site" "$work/site"
mkdir "$work/home" "$work/fakebin"
# spillet hands the page to xdg-open: this one writes down what it was given.
cat >"$work/fakebin/xdg-open" <<EOS
#!/bin/sh
echo "\$1" >>"$work/opened"
EOS
chmod +x "$work/fakebin/xdg-open"

cat >"$work/run.sh" <<'EOS'
#!/bin/sh
# Runs inside the test's world: the commands of the installed prefix only.
set -e
cd "$WORK"
quillbox --version >version.txt
quillbox -y -o "$WORK/site.exe" "$WORK/site/index.htm" >quillbox.out 2>quillbox.err
spillet "$WORK/site.exe" "$WORK/out" </dev/null >spillet.out 2>spillet.err
EOS

environment=(env -i "PATH=$work/fakebin:$prefix/bin:/usr/bin:/bin" "HOME=$work/home"
             "WORK=$work" "TMPDIR=$work")
# An empty file system over the trees: nothing there can be read. Build folders
# inside the source folder are covered by the source's mount.
if unshare --mount --map-root-user true 2>/dev/null; then
    hide="mount -t tmpfs none '$build' && mount -t tmpfs none '$src'"
    case $build/ in "$src"/*) hide="mount -t tmpfs none '$src'" ;; esac
    "${environment[@]}" unshare --mount --map-root-user sh -c "$hide && [ ! -e '$src/README.md' ] && exec sh '$work/run.sh'" ||
        { cat "$work"/*.err 2>/dev/null; fail "the installed programs (build tree hidden)"; }
    echo "ok   the source and build trees were hidden"
else
    echo "note: mount namespaces are not available; the trees are only off the PATH"
    "${environment[@]}" sh "$work/run.sh" ||
        { cat "$work"/*.err 2>/dev/null; fail "the installed programs"; }
fi

[ "$(cat "$work/version.txt")" = "quillbox $version" ] ||
    fail "quillbox --version says $(cat "$work/version.txt")"
echo "ok   quillbox --version"
[ -s "$work/site.exe" ] || fail "no executable written"
grep -q "Quillbox Lite is done" "$work/quillbox.out" || fail "no done line: $(cat "$work/quillbox.out")"
echo "ok   the installed quillbox packed the site"

[ -f "$work/out/index.htm" ] || fail "index.htm not unpacked"
# The frames point at their local copies, which are there.
frames=$(grep -io '<frame [^>]*src="[^"]*"' "$work/out/index.htm" | sed 's/.*src="//; s/"$//')
[ "$(echo "$frames" | wc -w)" = 2 ] || fail "index.htm has frames '$frames'"
for f in $frames; do
    [ -f "$work/out/$f" ] || fail "frame page $f not unpacked"
done
grep -q 'grabbed for free using' "$work/out/index.htm" || fail "index.htm lacks the footer"
pictures=$(find "$work/out" -maxdepth 1 -iname '*.png' | wc -l)
[ "$pictures" -ge 4 ] || fail "only $pictures pictures unpacked"
grep -qx "$work/out/index.htm" "$work/opened" || fail "index.htm was not opened: $(cat "$work/opened" 2>/dev/null)"
echo "ok   the installed spillet unpacked the page with its frames and $pictures pictures and opened it"

# The completion scripts offer the options (with bash-completion's helpers, when present).
helpers=/usr/share/bash-completion/bash_completion
if [ -r "$helpers" ]; then
    for case in "quillbox --ver:--version" "spillet -:-v -h --help --version"; do
        words=${case%%:*} want=${case#*:}
        got=$(bash -c '. "$1"; . "$2"; read -ra COMP_WORDS <<<"$3"; COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
                       COMP_LINE=$3; COMP_POINT=${#COMP_LINE}; "_${COMP_WORDS[0]}"; echo "${COMPREPLY[*]}"' \
              _ "$helpers" "$prefix/share/bash-completion/completions/${words%% *}" "$words")
        [ "$got" = "$want" ] || fail "completion of '$words': '$got', expected '$want'"
    done
    echo "ok   bash completion"
fi
echo "PASS"
