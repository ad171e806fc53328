#!/usr/bin/env bash
# Judges the whole show against the photosensitivity thresholds: builds the programs (release), has flash record the
# show at 60 fps under the controlled clock and count its flashes, and writes OUT/report.txt, OUT/flashes.csv,
# OUT/flashes.json and OUT/flashes.png. On llvmpipe the recording and the count take about an hour.
# Usage: bench/flash.sh [--gentle] [--config WxH] [OUT, default flash-report] [RECORDING: a lossless recording of the
# whole show to judge instead of recording it again, e.g. one made by capture --lossless]
#   --gentle      the gentle version of the show (demo-gentle, demo-WxH-gentle)
#   --config WxH  the display configuration: 960x600 (default), 1920x1200 or 1280x720
set -euo pipefail
cd "$(dirname "$0")/.."
show_options=()
while [ $# -gt 0 ]; do
    case $1 in
        --gentle) show_options+=(--gentle); shift ;;
        --config) show_options+=(--config "$2"); shift 2 ;;
        *) break ;;
    esac
done
out=${1:-flash-report}
recording=${2:-}

scripts/install-deps.sh
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DDEMO_TESTS=OFF >/dev/null
cmake --build build-bench -j"$(nproc)" --target flash capture >/dev/null
mkdir -p "$out"
if [ -n "$recording" ]; then
    source=("$recording")
else
    source=(--show "${show_options[@]}")
fi
# Status 3 is a verdict (a threshold exceeded), not a failure of the run.
status=0
build-bench/flash "${source[@]}" --csv "$out/flashes.csv" --json "$out/flashes.json" --plot "$out/flashes.png" |
    tee "$out/report.txt" ||
    status=$?
echo "commit $(git rev-parse --short HEAD)$(git diff --quiet HEAD -- src shaders tools || echo ' (with changes)')" |
    tee -a "$out/report.txt"
[ "$status" -eq 0 ] || [ "$status" -eq 3 ]
