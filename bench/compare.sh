#!/usr/bin/env bash
# Side by side in one run: this tree's frames against those of a build of COMMIT, and capture against bare
# rendering of the same frames under the controlled clock, each build's runs interleaved (A B A B ...), so that
# whatever else the machine does falls on both alike. Release builds of the default configuration; COMMIT is
# built in a temporary worktree (with ccache where it is installed), with this tree's bench/bench.cpp where it
# builds there, so that one benchmark measures both. Frames are timed in wall time and in the CPU time of the
# process (every driver thread), captures in wall time and in the CPU time of capture and its children (demo,
# encoder): on a machine shared with other work the CPU times count a run's own work alone.
# Usage: bench/compare.sh COMMIT [rounds (default 3)] [frames per median (default 7)] [capture seconds (default 2)]
# PARTS=frames or PARTS=capture in the environment runs one part alone.
set -euo pipefail
[ $# -ge 1 ] || { echo "usage: bench/compare.sh COMMIT [rounds] [frames per median] [capture seconds]"; exit 2; }
cd "$(dirname "$0")/.."
commit=$(git rev-parse --verify "$1^{commit}") || { echo "compare: no commit '$1'"; exit 2; }
rounds=${2:-3}
frames=${3:-7}
seconds=${4:-2}

scripts/install-deps.sh
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
cp bench/bench.cpp "$work/before/bench/bench.cpp"
if ! build "$work/before" "$work/before/build" 2>/dev/null; then
    echo "compare: this tree's bench.cpp does not build at $1; its own benchmark measures it (no CPU times)"
    git -C "$work/before" checkout -- bench/bench.cpp
    build "$work/before" "$work/before/build"
fi
if [ -z "${DISPLAY:-}" ]; then
    start_xvfb
fi
export SDL_AUDIODRIVER=dummy   # no sound card needed, and none heard
declare -A dir=([now]=build-bench [before]="$work/before/build")

echo "now: $(git describe --always --dirty) (build-bench); before: $(git describe --always "$commit")"
build-bench/bench/demo_bench --renderer 2>/dev/null | sed -n 2p
parts=${PARTS:-frames capture}
# The median of the numbers on standard input, one a line: ... | median_of
median_of() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
if [[ $parts == *frames* ]]; then
    echo "frames: $rounds rounds of demo_bench $frames, now and before in turn"
    for round in $(seq "$rounds"); do
        for side in now before; do
            "${dir[$side]}/bench/demo_bench" "$frames" --csv "$work/$side-$round.csv" >/dev/null 2>&1
        done
    done

    # One measure of one moment in the given CSV files: values MEASURE MOMENT FILE...
    values() {
        awk -F, -v measure="$1" -v moment="$2" '$2 == moment && $3 == measure { print $4 }' "${@:3}"
    }
    # The median over the rounds of one measure: median MEASURE MOMENT SIDE
    median() {
        values "$1" "$2" "$work/$3"-*.csv | median_of
    }
    # The ratios now / before of one measure, round by round: the two runs of a round follow each other, so that a
    # stretch of minutes when the machine is slower for everything falls on both. Their median, least and
    # greatest: paired MEASURE MOMENT
    paired() {
        for round in $(seq "$rounds"); do
            b=$(values "$1" "$2" "$work/before-$round.csv")
            n=$(values "$1" "$2" "$work/now-$round.csv")
            [ -n "$b" ] && [ -n "$n" ] && echo "$n / $b" | bc -l
        done | sort -g | awk '{ v[NR] = $1 } END { if (NR) printf "%.3f %.3f %.3f", v[int((NR + 1) / 2)], v[1], v[NR] }'
    }
    echo "medians over the rounds; now/before is the median of the rounds' own ratios, least and greatest beside it"
    printf '%-8s %10s %10s %10s %13s %10s %10s %10s\n' moment "before ms" "now ms" now/before "rounds" "before cpu" \
        "now cpu" now/before
    for moment in empty 0.5 4.4 20 60 110; do
        b=$(median finished "$moment" before)
        n=$(median finished "$moment" now)
        read -r ratio least most <<<"$(paired finished "$moment")"
        bc_=$(median cpu "$moment" before)
        nc=$(median cpu "$moment" now)
        cpu_ratio=-
        [ -n "$bc_" ] && cpu_ratio=$(paired cpu "$moment" | cut -d' ' -f1)
        printf '%-8s %10.1f %10.1f %10s %13s %10s %10s %10s\n' "$moment" "$b" "$n" "$ratio" "$least-$most" \
            "${bc_:--}" "$nc" "$cpu_ratio"
    done

fi
[[ $parts == *capture* ]] || exit 0

# Capture: the same frames drawn bare (vclock, no grabs), recorded lossless and recorded with --crf.
count=$((seconds * 60))
source bench/capture-timing.sh
# Extra x264 presets to time with this tree's capture, by the environment: LOSSLESS_PRESETS, CRF_PRESETS.
read -r -a lossless_presets <<<"${LOSSLESS_PRESETS:-}"
read -r -a crf_presets <<<"${CRF_PRESETS:-}"
echo "capture: $rounds rounds of the first $seconds s at 60 fps ($count frames): bare, --lossless, --crf 18" \
    "${lossless_presets[*]:+; now also --lossless --preset ${lossless_presets[*]}}" \
    "${crf_presets[*]:+; now also --crf 18 --preset ${crf_presets[*]}}"
for round in $(seq "$rounds"); do
    for side in now before; do
        d=${dir[$side]}
        bare "$d" 0 "$count"
        timed "$work/$side-bare" "${bare_run[@]}"
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
middle() { cut -d' ' -f"$2" "$1" | median_of; }
# The median of a run's ratios to the bare run of the same round and side, field F (1 wall, 2 CPU): over_bare RUN
# BARE F
over_bare() {
    paste -d' ' <(cut -d' ' -f"$3" "$1") <(cut -d' ' -f"$3" "$2") | awk '{ print $1 / $2 }' | median_of
}
echo "medians over the rounds; x bare is the median of each round's ratio to that round's bare run"
printf '%-8s %-20s %10s %10s %10s %10s %8s\n' side run "wall s" "x bare" "cpu s" "x bare" MB
for side in before now; do
    bw=$(middle "$work/$side-bare" 1)
    bcpu=$(middle "$work/$side-bare" 2)
    printf '%-8s %-20s %10.2f %10.3f %10.2f %10.3f\n' "$side" bare "$bw" 1 "$bcpu" 1
    runs=(lossless crf)
    [ "$side" = now ] && runs+=("${lossless_presets[@]/#/lossless-}" "${crf_presets[@]/#/crf-}")
    for run in "${runs[@]}"; do
        w=$(middle "$work/$side-$run" 1)
        c=$(middle "$work/$side-$run" 2)
        printf '%-8s %-20s %10.2f %10.3f %10.2f %10.3f %8.1f\n' "$side" "$run" "$w" \
            "$(over_bare "$work/$side-$run" "$work/$side-bare" 1)" "$c" "$(over_bare "$work/$side-$run" "$work/$side-bare" 2)" \
            "$(echo "$(stat -c %s "$work/$side-$run.mp4") / 1000000" | bc -l)"
    done
done
