#!/usr/bin/env bash
# Runs a fuzz target for a while: builds the fuzz targets with clang and libFuzzer (AddressSanitizer and
# UndefinedBehaviorSanitizer with them) in build-fuzz, then runs TARGET for SECONDS from its checked-in seeds.
# Any crash, leak, hang (10 s for one input) or memory over 2 GiB fails the run; the input that did it is left as
# build-fuzz/findings/TARGET/crash-..., leak-..., timeout-... or oom-... . What the run adds to the corpus stays in
# build-fuzz/corpus/TARGET, never in the source tree.
# Usage: scripts/fuzz.sh TARGET|all [SECONDS, default 60]
#   TARGET: music, stage_text, capture_options or preview_options; all: each in turn.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD   # the targets are given absolute paths: the music target works in a folder of its own
targets=(music stage_text capture_options preview_options)
target=${1:-}
seconds=${2:-60}
if [ -z "$target" ] || ! [[ " all ${targets[*]} " == *" $target "* ]] || ! [[ "$seconds" =~ ^[1-9][0-9]*$ ]]; then
    echo "fuzz: usage: scripts/fuzz.sh TARGET|all [SECONDS]; TARGET is one of: ${targets[*]}" >&2
    exit 2
fi
[ "$target" = all ] || targets=("$target")

scripts/install-deps.sh --fuzz
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDEMO_FUZZ=ON -DDEMO_TESTS=OFF \
    >/dev/null
cmake --build build-fuzz -j"$(nproc)" --target "${targets[@]/%/_fuzz}" >/dev/null

status=0
for name in "${targets[@]}"; do
    # The seeds: the target's checked-in corpus where it has one, the music files that once broke the mixer, the
    # project's own stage files.
    seeds=()
    [ -d tests/fuzz/corpus/"$name" ] && seeds+=("$top"/tests/fuzz/corpus/"$name")
    [ "$name" = music ] && seeds+=("$top"/tests/faults/music-crashes)
    [ "$name" = stage_text ] && seeds+=("$top"/shaders)
    corpus=$top/build-fuzz/corpus/$name findings=$top/build-fuzz/findings/$name
    mkdir -p "$corpus" "$findings"
    # A parser that refuses an argument exits; the target throws from exit instead, past destructors the compiler
    # left out because exit never returns: what they would have freed is not a leak of the tool's.
    leaks=1
    [[ "$name" == *_options ]] && leaks=0
    echo "fuzz: $name for $seconds s"
    # Standard output closed: the music path prints the demo's lines for every refused file.
    if ! ASAN_OPTIONS=detect_leaks=$leaks build-fuzz/tests/fuzz/"${name}_fuzz" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -detect_leaks="$leaks" -close_fd_mask=1 -print_final_stats=1 -artifact_prefix="$findings"/ "$corpus" "${seeds[@]}" \
        2>"$findings"/log.txt; then
        echo "fuzz: $name found a fault; its log: build-fuzz/findings/$name/log.txt" >&2
        tail -n 40 build-fuzz/findings/"$name"/log.txt >&2
        status=1
    fi
    grep -E '^(#[0-9]+.*DONE|stat::number_of_executed_units|stat::peak_rss_mb)' build-fuzz/findings/"$name"/log.txt ||
        true
done
exit "$status"
