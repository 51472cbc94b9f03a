#!/usr/bin/env bash
# Configures and builds every preset: linux, linux-asan, win32, win64 and the fuzzers.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${QB_JOBS:-$(nproc)}
presets=${QB_PRESETS:-"win32 linux linux-asan win64 fuzz"}
for p in $presets; do
    echo "=== build $p"
    cmake --preset "$p" >/dev/null
    if [ "$p" = fuzz ]; then
        # Only the harnesses (and what they link): the programs and tests come from the
        # other presets.
        targets=$(cmake --build --preset fuzz --target help | sed -n 's/^\.\.\. \(fuzz_[a-z0-9_]*\).*/\1/p')
        [ -n "$targets" ] || continue
        cmake --build --preset "$p" -j"$jobs" --target $targets
    else
        cmake --build --preset "$p" -j"$jobs"
    fi
done
