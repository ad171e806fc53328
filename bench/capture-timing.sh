# shellcheck shell=bash
# Sourced by the capture benchmarks (compare.sh, show.sh), which set $work to their scratch folder.

# bare BUILD_DIR FIRST_MS COUNT: sets bare_run to the demo of BUILD_DIR drawing COUNT frames at 60 fps from FIRST_MS
# under the controlled clock, with the settings of capture's video run but no frames grabbed: the bare rendering
# that a capture of the same frames is set against.
bare() {
    local at
    at=$(cd "$1" && pwd)
    bare_run=(env -C "$at" -u VCLOCK_OWNER -u VCLOCK_GRAB -u VCLOCK_LOG VCLOCK_FIRST="$2"
        VCLOCK_STEP=16.666666666666668 VCLOCK_EVENTS="$(($3 + 1)):quit" VCLOCK_AUDIO="$work/bare.wav"
        SDL_AUDIODRIVER=dummy LD_PRELOAD="$at/libvclock.so" ./demo)
}

# timed FILE COMMAND...: appends "wall-seconds cpu-seconds" of COMMAND and its children to FILE.
timed() {
    /usr/bin/time -f '%e %U %S' -o "$work/time" "${@:2}" >/dev/null
    awk '{ print $1, $2 + $3 }' "$work/time" >>"$1"
}
