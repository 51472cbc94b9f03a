#!/usr/bin/env bash
# Configures and builds every preset: linux, linux-asan, win32, win64 and the fuzzers.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${QB_JOBS:-$(nproc)}
presets=${QB_PRESETS:-"win32 linux linux-asan win64 fuzz"}
for p in $presets; do
    echo "=== build $p"
    cmake --preset "$p" >/dev/null
    cmake --build --preset "$p" -j"$jobs"
done
