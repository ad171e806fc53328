#!/usr/bin/env bash
# The sanitizer build: builds every target with AddressSanitizer and UndefinedBehaviorSanitizer, runs the unit,
# audio, config, alloc and GL tests, the demo over the music corpus and one whole-show run of the real demo
# under vclock; fails on any report.
# Usage: scripts/sanitize.sh [build dir, default build-asan]. Uses DISPLAY, or starts a private Xvfb.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${1:-build-asan}

cmake -S . -B "$build" -DDEMO_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build "$build" -j"$(nproc)" >/dev/null

source scripts/xvfb.sh   # start_xvfb, and at_exit for the clean-up below
if [ -z "${DISPLAY:-}" ]; then
    start_xvfb
fi

# Leak reports need the frames of Mesa's driver, which it dlopens and unloads at exit: keep_modules makes
# dlclose a no-op (see tests/sanitizers.supp). It is a plain library, preloaded ahead of the sanitizer runtime,
# hence verify_asan_link_order=0; preloading it into ctest itself does no harm.
keep="$root/$build/tests/faults/libkeep_modules.so"
export ASAN_OPTIONS="verify_asan_link_order=0:detect_leaks=1:halt_on_error=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1"
export LSAN_OPTIONS="suppressions=$root/tests/sanitizers.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export SDL_AUDIODRIVER=dummy

status=0
echo "sanitizers: unit, config, alloc and GL tests"
(cd "$build" && LD_PRELOAD="$keep" ctest --output-on-failure -L '^(unit|gl|config)$') || status=1
echo "sanitizers: audio tests"
(cd "$build" && LD_PRELOAD="$keep" ctest --output-on-failure -R '^(mp3_check_test|audio_MusicDecoding\..*)$') || status=1
# The demo over the generated corpus of music files (vclock is preloaded after keep_modules).
echo "sanitizers: the demo over the music corpus"
(cd "$build" && LD_PRELOAD="$keep" ctest --output-on-failure -R '^faults_MusicCorpus\.') || status=1

# The real demo over the whole show, 0 to 136 s at 4 s steps (35 frames), with its music on the dummy device.
echo "sanitizers: whole-show run of the demo"
run_dir=$(mktemp -d)
at_exit 'rm -rf "$run_dir"'
ln -s "$root/$build/Tarnhollow_4.mp3" "$run_dir/Tarnhollow_4.mp3"
if ! (cd "$run_dir" && timeout -k 10 600 env LD_PRELOAD="$keep:$root/$build/libvclock.so" VCLOCK_STEP=4000 \
        VCLOCK_LOG=clock.log VCLOCK_GL_ERRORS=gl.txt "$root/$build/demo" >output.txt 2>&1); then
    echo "the demo failed under the sanitizers:"
    cat "$run_dir/output.txt"
    status=1
elif grep -q -E 'ERROR: (Address|Leak)Sanitizer|runtime error:' "$run_dir/output.txt"; then
    cat "$run_dir/output.txt"
    status=1
elif ! grep -q '^exit swaps 35$' "$run_dir/clock.log"; then
    echo "expected 35 frames; vclock's log ends:"
    tail -3 "$run_dir/clock.log"
    status=1
else
    awk '/^swap / { for (i = 1; i < NF; i++) value[$i] = $(i + 1)
                    if (!first) first = value["rss_kb"]; last = value["rss_kb"]; n = value["swap"] }
         END { printf "demo: %d frames, resident %d KiB after the first swap, %d KiB after the last\n", n, first, last }' \
        "$run_dir/clock.log"
fi
if grep -q -E 'glGetError|^debug .* (error|undefined) ' "$run_dir/gl.txt" 2>/dev/null; then
    echo "GL errors in the whole-show run:"
    cat "$run_dir/gl.txt"
    status=1
fi

[ $status -eq 0 ] && echo "sanitizers: no reports"
exit $status
