#!/usr/bin/env bash
# Renders and times the show from the bundle that bench/gpu/pack.sh made, on a machine that needs nothing of its
# own but glibc, bash and the usual shell tools: starts the bundle's Xvfb with GLX, records which GL renderer the
# demo gets, writes stills of the default configuration at 0.5, 4.4, 20, 60 and 110 s under the controlled
# clock, and times start-up and frames (finished, swap to swap, each pass by GPU timer; vertical sync off) in
# all three display configurations.
# Usage: bench/gpu/run.sh [--expect-gpu] BUNDLE.tar.xz OUTDIR
#   --expect-gpu  the demo's GL goes to the NVIDIA driver (__GLX_VENDOR_LIBRARY_NAME=nvidia); a renderer that
#                 does not name NVIDIA ends the run with status 1
# OUTDIR gets eight files: renderer.txt, frame_0.5.png, frame_4.4.png, frame_20.png, frame_60.png,
# frame_110.png, frame_times.csv (configuration,moment,measure,ms) and summary.txt (everything printed).
set -uo pipefail

expect_gpu=false
if [ "${1:-}" = --expect-gpu ]; then
    expect_gpu=true
    shift
fi
if [ $# -ne 2 ] || [ ! -f "$1" ]; then
    echo "usage: bench/gpu/run.sh [--expect-gpu] BUNDLE.tar.xz OUTDIR"
    exit 2
fi
bundle=$1
mkdir -p "$2" || exit 1
out=$(cd "$2" && pwd)
summary=$out/summary.txt
: >"$summary"
run_start=$(date +%s%N)

say() { echo "$*" | tee -a "$summary"; }
fail() {
    say "run: $*"
    exit 1
}
seconds_since() {
    local ms=$(( ($(date +%s%N) - $1) / 1000000 ))
    printf '%d.%03d' $((ms / 1000)) $((ms % 1000))
}

work=$(mktemp -d "${TMPDIR:-/tmp}/velquorin-gpu.XXXXXX") || exit 1
xvfb_pid=
# The server gets SIGTERM, then SIGKILL where it has not gone within 3 s.
stop_xvfb() {
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || return 0
    for _ in $(seq 30); do
        kill -0 "$xvfb_pid" 2>/dev/null || return 0
        sleep 0.1
    done
    kill -KILL "$xvfb_pid" 2>/dev/null
}
trap 'stop_xvfb; rm -rf "$work"' EXIT

# Unpacking: tar with xz where there is one, else Python's tarfile.
step=$(date +%s%N)
if command -v xz >/dev/null; then
    tar -C "$work" -xJf "$bundle" || fail "cannot unpack $bundle"
else
    python3 -c 'import sys, tarfile; tarfile.open(sys.argv[1]).extractall(sys.argv[2])' "$bundle" "$work" ||
        fail "cannot unpack $bundle (no xz, and Python could not either)"
fi
root=$work/velquorin-gpu
[ -x "$root/960x600/demo" ] || fail "$bundle holds no velquorin-gpu/960x600/demo"
say "bundle: $(head -n 1 "$root/VERSION"); unpacked in $(seconds_since "$step") s"

# The bundle's libraries first; the machine's own (its GL vendor library among them) after.
export LD_LIBRARY_PATH="$root/lib${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"
export LIBGL_DRIVERS_PATH=$root/lib/dri
export PATH="$root/bin:$root/tools:$PATH"
export SDL_AUDIODRIVER=dummy
export __GL_SYNC_TO_VBLANK=0 vblank_mode=0
unset DISPLAY

missing=$(for elf in "$root"/bin/* "$root"/tools/* "$root"/*/demo "$root"/*/demo_bench "$root"/lib/dri/*; do
    ldd "$elf" 2>/dev/null | grep "not found" | sed "s|^|${elf#"$root"/}: |"
done)
[ -z "$missing" ] || fail "libraries missing here: $(echo "$missing" | tr '\n' ' ')"

# The X server, started from the bundle's root: its keymap compiler is bin/xkbcomp there. It writes its display
# number once it accepts connections.
step=$(date +%s%N)
(cd "$root" && exec Xvfb -displayfd 3 -screen 0 1920x1200x24 -nolisten tcp -noreset \
    -xkbdir "$root/share/X11/xkb" 3>"$work/display" >"$work/xvfb.log" 2>&1) &
xvfb_pid=$!
for _ in $(seq 100); do
    [ -s "$work/display" ] && break
    kill -0 "$xvfb_pid" 2>/dev/null || break
    sleep 0.1
done
[ -s "$work/display" ] || fail "Xvfb did not start: $(grep -v '^$' "$work/xvfb.log" | tail -n 3 | tr '\n' ' ')"
DISPLAY=:$(head -n 1 "$work/display")
export DISPLAY
say "xvfb: display $DISPLAY in $(seconds_since "$step") s"

# Limits of each step, in seconds: tight where a GPU makes the frames fast, so that a stuck step still leaves
# the device's call time to report. Each ends its step with SIGTERM, then SIGKILL 5 s later: SDL turns SIGTERM
# into a quit event, which a program that does not read its events (demo_bench while timing) never sees.
if $expect_gpu; then
    limit_renderer=30 limit_stills=60 limit_bench=60 frames=101
else
    limit_renderer=60 limit_stills=300 limit_bench=300 frames=7
fi

# Only the clients go to the NVIDIA driver; the server keeps Mesa for its own GLX. The driver's GLX library is
# looked for where the loader finds it, else in the usual driver folders.
if $expect_gpu; then
    export __GLX_VENDOR_LIBRARY_NAME=nvidia
    if ! ldconfig -p 2>/dev/null | grep -q 'libGLX_nvidia\.so\.0'; then
        vendor=
        for dir in ${LD_LIBRARY_PATH//:/ } /usr/local/nvidia/lib64 /usr/local/nvidia/lib /usr/lib/x86_64-linux-gnu \
            /usr/lib64; do
            [ -e "$dir/libGLX_nvidia.so.0" ] && vendor=$dir && break
        done
        [ -n "$vendor" ] || fail "no libGLX_nvidia.so.0 on this machine: the NVIDIA driver's GLX library is missing"
        export LD_LIBRARY_PATH="$LD_LIBRARY_PATH:$vendor"
        say "nvidia: libGLX_nvidia.so.0 in $vendor"
    fi
fi
(cd "$root/960x600" && timeout -k 5 "$limit_renderer" ./demo_bench --renderer) >"$out/renderer.txt" 2>"$work/renderer.log" ||
    fail "the benchmark could not open a GL window: $(tail -n 1 "$out/renderer.txt") $(tail -n 1 "$work/renderer.log")"
command -v nvidia-smi >/dev/null &&
    nvidia-smi --query-gpu=name,driver_version --format=csv,noheader 2>&1 | sed 's/^/nvidia-smi: /' >>"$out/renderer.txt"
renderer=$(grep '^renderer:' "$out/renderer.txt")
say "$renderer; $(grep '^version:' "$out/renderer.txt")"
if $expect_gpu; then
    echo "$renderer" | grep -qi llvmpipe && fail "the renderer is Mesa's llvmpipe, not the NVIDIA card ($renderer)"
    echo "$renderer" | grep -qi nvidia || fail "the renderer does not name NVIDIA ($renderer)"
elif echo "$renderer" | grep -qi llvmpipe; then
    say "note: llvmpipe defers drawing until a later flush, so its per-pass timer queries (the particles' near 0)" \
        "are not the passes' cost"
fi

# Stills of the default configuration under the controlled clock.
step=$(date +%s%N)
stills=()
for t in 0.5 4.4 20 60 110; do
    stills+=(--still "$t=$out/frame_$t.png")
done
timeout -k 5 "$limit_stills" capture --quiet --demo "$root/960x600/demo" "${stills[@]}" >"$work/capture.log" 2>&1 ||
    fail "the stills failed: $(grep -v '^$' "$work/capture.log" | tail -n 3 | tr '\n' ' ')"
say "stills: frame_0.5.png … frame_110.png in $(seconds_since "$step") s"

# Frame times in each configuration.
echo "configuration,moment,measure,ms" >"$out/frame_times.csv"
for display in 960x600 1920x1200 1280x720; do
    step=$(date +%s%N)
    say "--- $display"
    (cd "$root/$display" && timeout -k 5 "$limit_bench" ./demo_bench "$frames" --csv "$out/frame_times.csv") >"$work/bench.log" 2>&1
    status=$?
    grep -v '^ATTENTION: default value of option vblank_mode' "$work/bench.log" | tee -a "$summary"
    [ $status -eq 0 ] || fail "the $display benchmark failed (status $status)"
    say "($display timed in $(seconds_since "$step") s)"
done

say "run: done in $(seconds_since "$run_start") s; files in $out"
