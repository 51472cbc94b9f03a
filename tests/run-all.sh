#!/usr/bin/env bash
# Builds everything and runs every test: native, AddressSanitizer/UBSan, Windows
# under Wine, and each fuzzer for a short while.
set -uo pipefail
cd "$(dirname "$0")/.."
tools/build-all.sh || exit 1

status=0
run() {
    echo "=== $*"
    "$@" || status=1
}
run ctest --preset linux
run ctest --preset linux-asan
# Windowed programs under Wine need a display; one virtual X server for the run.
run xvfb-run -a -s "-screen 0 1280x1024x24" ctest --preset win64
# The Debian package installed and used, lintian, the Windows release zip.
run tests/install/package_check.sh

seconds=${QB_FUZZ_SECONDS:-20}
for f in build/fuzz/bin/fuzz_*; do
    [ -x "$f" ] || continue
    name=$(basename "$f")
    corpus=build/fuzz/corpus/$name
    mkdir -p "$corpus"
    seeds=fuzz/seeds/${name#fuzz_}
    [ -d "$seeds" ] || seeds=
    echo "=== fuzz $name for ${seconds}s"
    "$f" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 "$corpus" $seeds \
        >"build/fuzz/$name.log" 2>&1 || { tail -40 "build/fuzz/$name.log"; status=1; }
    tail -1 "build/fuzz/$name.log"
done

if [ $status = 0 ]; then echo "ALL TESTS PASSED"; else echo "SOME TESTS FAILED"; fi
exit $status
