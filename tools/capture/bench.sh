#!/usr/bin/env bash
# Benchmark of the capture tool: records 10 s of the show at 60 fps and prints frames per second of capture
# and the size of the MP4. Usage: tools/capture/bench.sh [build dir, default build] [extra capture options...]
# Without DISPLAY the tool starts its own Xvfb.
set -euo pipefail
build=${1:-build}
shift || true
capture="$build/capture"
[ -x "$capture" ] || { echo "bench: no $capture; build the project first" >&2; exit 1; }

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
from=0 seconds=10 fps=60
start=$(date +%s.%N)
"$capture" --from "$from" --duration "$seconds" --fps "$fps" -o "$out/bench.mp4" "$@"
end=$(date +%s.%N)

frames=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of csv=p=0 "$out/bench.mp4")
bytes=$(stat -c %s "$out/bench.mp4")
awk -v f="$frames" -v s="$start" -v e="$end" -v b="$bytes" -v secs="$seconds" -v fps="$fps" 'BEGIN {
    printf "bench: %d frames (%g s at %g fps) in %.1f s wall: %.2f frames per second of capture (start-up included)\n",
           f, secs, fps, e - s, f / (e - s)
    printf "bench: %g-second capture: %d bytes (%.2f MB, %.0f kbit/s)\n", secs, b, b / 1e6, b * 8 / secs / 1000
}'
