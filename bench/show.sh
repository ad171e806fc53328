#!/usr/bin/env bash
# What recording the whole show costs: this tree's release build draws the show bare under the controlled clock,
# records it with --lossless and records it with --crf 18, at 60 fps. The show is taken in parts, the three runs of
# a part one after the other, so that a stretch of minutes in which the machine is slower falls on all three alike;
# prints each part, then the whole show: wall and CPU time (capture with its children), × bare, and file sizes.
# Usage: bench/show.sh [parts (default 4; a divisor of 2720, so that each part is whole frames and milliseconds)]
set -euo pipefail
cd "$(dirname "$0")/.."
parts=${1:-4}
if ! [[ $parts =~ ^[1-9][0-9]*$ ]] || ((2720 % parts != 0)); then
    echo "show: the parts must be a divisor of 2720 (1, 2, 4, 5, 8, ...), not '$parts'" >&2
    exit 2
fi

scripts/install-deps.sh
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DDEMO_TESTS=OFF >/dev/null
cmake --build build-bench -j"$(nproc)" --target demo capture vclock soundtrack >/dev/null
work=$(mktemp -d "${TMPDIR:-/tmp}/velquorin-show.XXXXXX")
source scripts/xvfb.sh
at_exit "rm -rf '$work'"
if [ -z "${DISPLAY:-}" ]; then
    start_xvfb
fi
export SDL_AUDIODRIVER=dummy
source bench/capture-timing.sh

show_ms=136000
part_ms=$((show_ms / parts))
count=$((part_ms * 60 / 1000))
echo "show: $(git describe --always --dirty), the whole show at 60 fps in $parts parts of $count frames:" \
    "bare, --lossless, --crf 18 in turn"
printf '%-16s %10s %10s %10s %10s %8s %10s %10s\n' part "bare s" "lossless s" "x bare" "crf s" "x bare" \
    "lossless MB" "crf MB"
for part in $(seq 0 $((parts - 1))); do
    from_ms=$((part * part_ms))
    from=$(echo "$from_ms / 1000" | bc -l) to=$(echo "($from_ms + $part_ms) / 1000" | bc -l)
    bare build-bench "$from_ms" "$count"
    timed "$work/bare" "${bare_run[@]}"
    timed "$work/lossless" build-bench/capture -q --from "$from" --to "$to" --lossless -o "$work/lossless-$part.mp4"
    timed "$work/crf" build-bench/capture -q --from "$from" --to "$to" -o "$work/crf-$part.mp4"
    stat -c %s "$work/lossless-$part.mp4" >>"$work/lossless-bytes"
    stat -c %s "$work/crf-$part.mp4" >>"$work/crf-bytes"
    rm "$work/lossless-$part.mp4" "$work/crf-$part.mp4"   # a lossless show is gigabytes
    paste -d' ' "$work/bare" "$work/lossless" "$work/crf" "$work/lossless-bytes" "$work/crf-bytes" | tail -n 1 |
        awk -v from="$from" -v to="$to" '{
            printf "%6.2f-%6.2f s  %10.2f %10.2f %10.3f %10.2f %8.3f %10.1f %10.1f\n", from, to, $1, $3, $3 / $1, $5,
                   $5 / $1, $7 / 1e6, $8 / 1e6 }'
done 2> >(grep -v "Mix_LoadMUS\|the demo said" >&2)
paste -d' ' "$work/bare" "$work/lossless" "$work/crf" "$work/lossless-bytes" "$work/crf-bytes" | awk '
    { for (i = 1; i <= 8; ++i) sum[i] += $i }
    END {
        printf "%-16s %10.2f %10.2f %10.3f %10.2f %8.3f %10.1f %10.1f\n", "whole show", sum[1], sum[3],
               sum[3] / sum[1], sum[5], sum[5] / sum[1], sum[7] / 1e6, sum[8] / 1e6
        printf "CPU s, capture with its children: bare %.2f, lossless %.2f (x %.3f), crf %.2f (x %.3f)\n", sum[2],
               sum[4], sum[4] / sum[2], sum[6], sum[6] / sum[2]
        printf "whole show: bare %d min %.1f s, lossless %d min %.1f s, crf %d min %.1f s\n", sum[1] / 60,
               sum[1] % 60, sum[3] / 60, sum[3] % 60, sum[5] / 60, sum[5] % 60
    }'
