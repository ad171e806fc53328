#!/usr/bin/env bash
# Builds the benchmark in a release build of the default configuration and runs it on this display,
# or on a private Xvfb when none is set. Usage: bench/run.sh [frames per median]
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DDEMO_TESTS=OFF >/dev/null
cmake --build build-bench -j"$(nproc)" --target demo_bench >/dev/null
if [ -z "${DISPLAY:-}" ]; then
    source scripts/xvfb.sh
    start_xvfb
fi
build-bench/bench/demo_bench "$@"
