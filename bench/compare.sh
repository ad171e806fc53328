#!/usr/bin/env bash
# Side by side in one run: this tree's frames against those of a build of COMMIT, and capture against bare
# rendering of the same frames under the controlled clock, each build's runs interleaved (A B A B ...), so that
# whatever else the machine does falls on both alike. Release builds of the default configuration; COMMIT is
# built in a temporary worktree (with ccache where it is installed).
# Usage: bench/compare.sh COMMIT [rounds (default 3)] [frames per median (default 7)] [capture seconds (default 2)]
set -euo pipefail
[ $# -ge 1 ] || { echo "usage: bench/compare.sh COMMIT [rounds] [frames per median] [capture seconds]"; exit 2; }
cd "$(dirname "$0")/.."
commit=$(git rev-parse --verify "$1^{commit}") || { echo "compare: no commit '$1'"; exit 2; }
rounds=${2:-3}
frames=${3:-7}
seconds=${4:-2}

launcher=()
if command -v ccache >/dev/null; then
    export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$(cd .. && pwd)} CCACHE_NOHASHDIR=true
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
build() {   # build SOURCE BUILD_DIR
    cmake -S "$1" -B "$2" -DCMAKE_BUILD_TYPE=Release -DDEMO_TESTS=OFF "${launcher[@]}" >/dev/null
    cmake --build "$2" -j"$(nproc)" --target demo_bench demo capture vclock soundtrack >/dev/null
}

work=$(mktemp -d "${TMPDIR:-/tmp}/velquorin-compare.XXXXXX")
source scripts/xvfb.sh
at_exit "git worktree remove --force '$work/before' >/dev/null 2>&1; rm -rf '$work'"
git worktree add --detach "$work/before" "$commit" >/dev/null 2>&1
build . build-bench
build "$work/before" "$work/before/build"
[ -z "${DISPLAY:-}" ] && start_xvfb
export SDL_AUDIODRIVER=dummy   # no sound card needed, and none heard
declare -A dir=([now]=build-bench [before]="$work/before/build")

echo "now: $(git describe --always --dirty) (build-bench); before: $(git describe --always "$commit")"
build-bench/bench/demo_bench --renderer 2>/dev/null | sed -n 2p
echo "frames: $rounds rounds of demo_bench $frames, now and before in turn"
for round in $(seq "$rounds"); do
    for side in now before; do
        "${dir[$side]}/bench/demo_bench" "$frames" --csv "$work/$side-$round.csv" >/dev/null 2>&1
    done
done

# The median over the rounds of one measure: median MEASURE MOMENT SIDE
median() {
    cat "$work/$3"-*.csv | awk -F, -v moment="$2" -v measure="$1" '$2 == moment && $3 == measure { print $4 }' |
        sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'
}
printf '%-10s %12s %12s %10s %10s %10s\n' moment "before ms" "now ms" now/before "x before" "x now"
for moment in empty 0.5 4.4 20 60 110; do
    b=$(median finished "$moment" before)
    n=$(median finished "$moment" now)
    bx=$(median gpu_reduce_x "$moment" before)
    nx=$(median gpu_reduce_x "$moment" now)
    printf '%-10s %12.1f %12.1f %10.3f %10s %10s\n' "$moment" "$b" "$n" "$(echo "$n / $b" | bc -l)" "${bx:-}" "${nx:-}"
done

# Capture: the same frames drawn bare (vclock, no grabs), recorded lossless and recorded with --crf.
count=$((seconds * 60))
bare() {   # bare BUILD_DIR: the demo under vclock with the settings of capture's video run, frames not read
    (cd "$1" && env -u VCLOCK_OWNER -u VCLOCK_GRAB -u VCLOCK_LOG VCLOCK_FIRST=0 VCLOCK_STEP=16.666666666666668 \
        VCLOCK_EVENTS="$((count + 1)):quit" VCLOCK_AUDIO="$work/bare.wav" SDL_AUDIODRIVER=dummy \
        LD_PRELOAD="$PWD/libvclock.so" ./demo >/dev/null 2>&1)
}
timed() {   # timed FILE COMMAND...: appends the wall time of COMMAND in seconds to FILE
    local start end
    start=$(date +%s.%N)
    "${@:2}" >/dev/null
    end=$(date +%s.%N)
    echo "$end - $start" | bc -l >>"$1"
}
# Extra x264 presets to time with this tree's capture, by the environment: LOSSLESS_PRESETS, CRF_PRESETS.
read -r -a lossless_presets <<<"${LOSSLESS_PRESETS:-}"
read -r -a crf_presets <<<"${CRF_PRESETS:-}"
echo "capture: $rounds rounds of the first $seconds s at 60 fps ($count frames): bare, --lossless, --crf 18" \
    "${lossless_presets[*]:+; now also --lossless --preset ${lossless_presets[*]}}" \
    "${crf_presets[*]:+; now also --crf 18 --preset ${crf_presets[*]}}"
for round in $(seq "$rounds"); do
    for side in now before; do
        d=${dir[$side]}
        timed "$work/$side-bare" bare "$d"
        timed "$work/$side-lossless" "$d/capture" -q --to "$seconds" --lossless -o "$work/$side-lossless.mp4"
        timed "$work/$side-crf" "$d/capture" -q --to "$seconds" -o "$work/$side-crf.mp4"
    done
    for preset in "${lossless_presets[@]}"; do
        timed "$work/now-lossless-$preset" build-bench/capture -q --to "$seconds" --lossless --preset "$preset" \
            -o "$work/now-lossless-$preset.mp4"
    done
    for preset in "${crf_presets[@]}"; do
        timed "$work/now-crf-$preset" build-bench/capture -q --to "$seconds" --preset "$preset" \
            -o "$work/now-crf-$preset.mp4"
    done
done 2> >(grep -v "Mix_LoadMUS\|the demo said" >&2)
middle() { sort -g "$1" | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
printf '%-8s %-26s %10s %10s %10s\n' side run "median s" "x bare" MB
for side in before now; do
    b=$(middle "$work/$side-bare")
    printf '%-8s %-26s %10.2f %10.3f\n' "$side" bare "$b" 1
    runs=(lossless crf)
    [ "$side" = now ] && runs+=("${lossless_presets[@]/#/lossless-}" "${crf_presets[@]/#/crf-}")
    for run in "${runs[@]}"; do
        t=$(middle "$work/$side-$run")
        printf '%-8s %-26s %10.2f %10.3f %10.1f\n' "$side" "$run" "$t" "$(echo "$t / $b" | bc -l)" \
            "$(echo "$(stat -c %s "$work/$side-$run.mp4") / 1000000" | bc -l)"
    done
done
