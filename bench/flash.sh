#!/usr/bin/env bash
# Judges the whole show against the photosensitivity thresholds: builds the default configuration (release), has
# flash record the show at 60 fps under the controlled clock and count its flashes, and writes OUT/report.txt,
# OUT/flashes.csv, OUT/flashes.json and OUT/flashes.png. On llvmpipe the recording takes an hour or more.
# Usage: bench/flash.sh [OUT, default flash-report] [RECORDING: a lossless recording of the whole show to judge
# instead of recording it again, e.g. one made by capture --lossless]
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-flash-report}
recording=${2:-}

scripts/install-deps.sh
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DDEMO_TESTS=OFF >/dev/null
cmake --build build-bench -j"$(nproc)" --target flash capture >/dev/null
mkdir -p "$out"
if [ -n "$recording" ]; then
    source=("$recording")
else
    source=(--show)
fi
# Status 3 is a verdict (a threshold exceeded), not a failure of the run.
status=0
build-bench/flash "${source[@]}" --csv "$out/flashes.csv" --json "$out/flashes.json" --plot "$out/flashes.png" |
    tee "$out/report.txt" ||
    status=$?
echo "commit $(git rev-parse --short HEAD)$(git diff --quiet HEAD -- src shaders tools || echo ' (with changes)')" |
    tee -a "$out/report.txt"
[ "$status" -eq 0 ] || [ "$status" -eq 3 ]
