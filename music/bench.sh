#!/usr/bin/env bash
# bench.sh: times rendering and encoding the soundtrack with the built render_track: three runs into a
# scratch file; prints each run's own line, then the median wall and CPU (user + system) time.
# Usage: music/bench.sh [BUILD_DIR]   (default: build)
set -euo pipefail
build=${1:-build}
exe=$(find "$build" -name render_track -type f -perm -u+x | head -n 1)
[ -n "$exe" ] || { echo "bench.sh: no render_track under $build; build the project first" >&2; exit 1; }
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
TIMEFORMAT='%R %U %S'
walls=() cpus=()
for run in 1 2 3; do
    { time "$exe" "$scratch/Tarnhollow_4.mp3" 2>&1 ; } 2> "$scratch/time"
    read -r wall user sys < "$scratch/time"
    walls+=("$wall")
    cpus+=("$(awk -v u="$user" -v s="$sys" 'BEGIN { printf "%.3f", u + s }')")
done
median() { printf '%s\n' "$@" | sort -n | sed -n 2p; }
echo "render + encode of the whole track, median of 3 runs: wall $(median "${walls[@]}") s, CPU $(median "${cpus[@]}") s"
