#!/usr/bin/env bash
# Packaging test: cpack makes the .deb and the .tar.gz; the .deb is unpacked and its files, dependencies,
# lintian verdict and desktop entry checked; the show is run from both unpacked trees, from an unrelated
# folder, under the controlled clock: it must show its frames, play its music and hand back its exit status.
# On private screens of two sizes the launcher must pick the display configuration its options call for.
# Usage: package_test.sh BUILD_DIR VCLOCK_LIBRARY DEMO_BINARY WITH_PREVIEW(0|1) PROGRAM_DIR; needs DISPLAY.
# PROGRAM_DIR is the programs' folder under the prefix, lib/<multiarch>/velquorin.
set -uo pipefail
build=$(readlink -f "$1") vclock=$(readlink -f "$2") demo=$(readlink -f "$3") with_preview=$4 program_dir=$5

for tool in cpack dpkg-deb dpkg-shlibdeps lintian desktop-file-validate od; do
    command -v "$tool" >/dev/null || { echo "no $tool: scripts/install-deps.sh installs it"; exit 1; }
done
[ -n "${DISPLAY:-}" ] || { echo "no DISPLAY: the unpacked show needs an X display"; exit 1; }

# shellcheck source-path=SCRIPTDIR/../.. source=scripts/xvfb.sh
source "$(dirname "$(readlink -f "$0")")/../../scripts/xvfb.sh"   # start_xvfb, at_exit
work=$(mktemp -d "${TMPDIR:-/tmp}/package-test-XXXXXX")
at_exit "rm -rf '$work'"
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# The packages, made in a folder of their own under a umask that would close every folder to other users.
if ! (umask 077 && cpack --config "$build/CPackConfig.cmake" -B "$work/packages" >"$work/cpack.txt" 2>&1); then
    cat "$work/cpack.txt"
    echo "FAIL: cpack did not make the packages"
    exit 1
fi
deb=$(ls "$work"/packages/velquorin_*.deb 2>/dev/null)
archive=$(ls "$work"/packages/velquorin-*.tar.gz 2>/dev/null)
[ -f "$deb" ] && [ -f "$archive" ] || { ls -l "$work/packages"; echo "FAIL: expected one .deb and one .tar.gz"; exit 1; }
echo "packages: $(du -k "$deb" | cut -f1) KiB ${deb##*/}, $(du -k "$archive" | cut -f1) KiB ${archive##*/}"

# Exactly these files, under /usr (in the archive under its own folder), a program per display configuration.
commands="velquorin velquorin-capture velquorin-flash"
programs="capture demo demo-1920x1200 demo-1280x720 demo-gentle demo-1920x1200-gentle demo-1280x720-gentle flash"
if [ "$with_preview" = 1 ]; then
    commands="$commands velquorin-preview"
    programs="$programs preview preview-1920x1200 preview-1280x720"
fi
expected=$(
    for command in $commands; do
        echo "usr/bin/$command"
        echo "usr/share/man/man1/$command.1.gz"
    done
    for program in $programs; do echo "usr/$program_dir/$program"; done
    echo "usr/$program_dir/libvclock.so"
    echo usr/share/velquorin/Tarnhollow_4.mp3
    echo usr/share/applications/velquorin.desktop
    echo usr/share/icons/hicolor/128x128/apps/velquorin.png
    for doc in README.md LICENSE copyright changelog.gz; do echo "usr/share/doc/velquorin/$doc"; done
)
# check_files NAME FOLDER PREFIX: the files in FOLDER, each named under PREFIX, are exactly the expected ones.
check_files() {
    local actual
    actual=$(cd "$2" && find . ! -type d | sed "s|^\./|$3|" | sort)
    if [ "$actual" != "$(sort <<<"$expected")" ]; then
        fail "the $1's files differ from the expected list (< expected, > in the package):"
        diff <(sort <<<"$expected") <(echo "$actual")
    fi
}
root=$work/root
dpkg-deb -x "$deb" "$root" || fail "dpkg-deb -x could not unpack the .deb"
check_files .deb "$root" ""
mkdir -p "$work/unpacked"
tar -xzf "$archive" -C "$work/unpacked" || fail "tar could not unpack the archive"
unpacked=$(ls -d "$work"/unpacked/velquorin-*)
check_files .tar.gz "$unpacked" usr/
# Modes in both, whatever the umask: folders and programs (not the clock library) 0755, links, the rest 0644.
modes=$({ dpkg-deb -c "$deb"; tar -tvzf "$archive"; } | awk -v programs="/$program_dir/" '{
    want = $1 ~ /^d/ ? "drwxr-xr-x" : $1 ~ /^l/ ? "lrwxrwxrwx" : "-rw-r--r--"
    if ($1 ~ /^-/ && ($6 ~ /\/bin\/velquorin$/ || (index($6, programs) && $6 !~ /\.so$/))) want = "-rwxr-xr-x"
    if ($1 != want) print $6 " " $1 " (expected " want ")" }')
[ -z "$modes" ] || fail "modes that follow the packager's umask (077): $(echo "$modes" | tr '\n' ' ')"
for command in $commands; do
    [ "$command" = velquorin ] && continue
    [ "$(readlink "$root/usr/bin/$command")" = velquorin ] || fail "usr/bin/$command is not a link to velquorin"
done

# Dependencies computed from the binaries: the libraries the show and the tools link.
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for library in x11-utils libc6 libsdl1.2debian libsdl-mixer1.2 libx11-6; do
    grep -Eq "(^|, )$library( |,|$)" <<<"$depends" || fail "Depends names no $library"
done

# Lintian: no errors or warnings; what else it says is shown.
lintian --fail-on error,warning --tag-display-limit 0 "$deb" >"$work/lintian.txt" 2>&1 ||
    fail "lintian reports errors or warnings"
echo "lintian:"
sed 's/^/  /' "$work/lintian.txt"

entry=$root/usr/share/applications/velquorin.desktop
desktop-file-validate "$entry" || fail "the desktop entry is not valid"
grep -A3 -x '\[Desktop Action fullscreen\]' "$entry" | grep -qx 'Exec=velquorin --fullscreen' ||
    fail "the desktop entry has no full-screen action"
grep -A3 -x '\[Desktop Action gentle\]' "$entry" | grep -qx 'Exec=velquorin --gentle' ||
    fail "the desktop entry has no gentle action"

# The highest sample (absolute value) of the WAV file $1 in the second $2 of its audio.
peak_in_second() {
    local rate channels
    rate=$(od -An -t u4 -j 24 -N 4 "$1" | tr -d ' ')
    channels=$(od -An -t u2 -j 22 -N 2 "$1" | tr -d ' ')
    local bytes=$((rate * channels * 2))
    od -An -v -t d2 -j $((44 + $2 * bytes)) -N "$bytes" "$1" |
        awk '{ for (i = 1; i <= NF; ++i) { v = $i < 0 ? -$i : $i; if (v > m) m = v } } END { print m + 0 }'
}

# Runs the launcher $1 from an empty folder with the controlled clock, 34 s per frame, the audio into a WAV.
# Expected: status 0, all 5 frames (0 to 136 s), no word of the music missing, and sound all through.
run_show() {
    local launcher=$1 name=$2 run=$work/run-$2
    mkdir -p "$run/elsewhere"
    (cd "$run/elsewhere" &&
        timeout -k 10 120 env LD_PRELOAD="$vclock" SDL_AUDIODRIVER=dummy VCLOCK_STEP=34000 \
            VCLOCK_AUDIO="$run/sound.wav" VCLOCK_LOG="$run/clock.log" "$launcher" >"$run/output.txt" 2>&1)
    local status=$?
    [ $status -eq 0 ] || fail "$name: the show ended with status $status, expected 0"
    grep -qx "exit swaps 5" "$run/clock.log" 2>/dev/null || fail "$name: expected 5 frames shown (0 to 136 s)"
    ! grep -q "Mix_LoadMUS() failed" "$run/output.txt" || fail "$name: the music was not found"
    if [ -s "$run/sound.wav" ]; then
        for second in 10 60 120; do
            local peak
            peak=$(peak_in_second "$run/sound.wav" $second)
            [ "$peak" -gt 1000 ] || fail "$name: second $second of the sound is silent (peak $peak of 32767)"
        done
    else
        fail "$name: no sound was recorded"
    fi
    if [ -s "$run/output.txt" ]; then
        echo "$name said:"
        sed 's/^/  /' "$run/output.txt"
    fi

    # The program's own status comes back: without a display the demo ends with 1.
    local direct through
    env -u DISPLAY SDL_VIDEODRIVER=x11 "$demo" >/dev/null 2>&1
    direct=$?
    (cd "$run/elsewhere" && env -u DISPLAY SDL_VIDEODRIVER=x11 "$launcher" >"$run/no-display.txt" 2>&1)
    through=$?
    [ $direct -ne 0 ] && [ $through -eq $direct ] ||
        fail "$name: without a display the launcher ended with $through, the demo itself with $direct"
    grep -q "SDL_Init() failed" "$run/no-display.txt" || fail "$name: expected the demo's line without a display"
    "$launcher" --help | grep -q "PHOTOSENSITIVITY WARNING" || fail "$name: --help gives no photosensitivity warning"
}
run_show "$root/usr/bin/velquorin" ".deb"

# The recorder from the .deb finds the installed demo, clock library and music: a still, no word of the music.
mkdir -p "$work/capture"
(cd "$work/capture" && timeout -k 10 120 "$root/usr/bin/velquorin-capture" --quiet --still 20=still.png \
    >"$work/capture.txt" 2>&1) || fail "velquorin-capture failed: $(cat "$work/capture.txt")"
[ -s "$work/capture/still.png" ] || fail "velquorin-capture wrote no still"
! grep -q "Mix_LoadMUS() failed" "$work/capture.txt" || fail "velquorin-capture ran the demo without its music"

# The preview from the .deb starts in the music's folder and quits on Escape.
if [ "$with_preview" = 1 ]; then
    mkdir -p "$work/preview"
    (cd "$work/preview" && timeout -k 10 120 env LD_PRELOAD="$vclock" SDL_AUDIODRIVER=dummy VCLOCK_STEP=1000 \
        VCLOCK_EVENTS=3:escape "$root/usr/bin/velquorin-preview" --at 20 >"$work/preview.txt" 2>&1) ||
        fail "velquorin-preview did not quit with status 0: $(cat "$work/preview.txt")"
    ! grep -q "Mix_LoadMUS() failed" "$work/preview.txt" || fail "velquorin-preview ran without its music"
fi

# The archive, unpacked elsewhere, runs the same way.
run_show "$unpacked/bin/velquorin" ".tar.gz"

# The program the launcher picks, a row each: the tree and command, the screen ("none": no DISPLAY), the arguments,
# the status, the program whose frame at 34 s (the cube, where the gentle version differs) it drew ("none": no program
# drew) and the first line printed (or none).
declare -A screens=([none]="")
outer_display=$DISPLAY
for screen in 1920x1080 1920x1200; do
    start_xvfb "${screen}x24" || exit 1
    screens[$screen]=$DISPLAY
done
export DISPLAY=$outer_display
# A tree without the gentle programs.
partial=$work/partial
cp -a "$unpacked" "$partial" && rm "$partial/$program_dir"/demo*-gentle
rows="deb    velquorin         1920x1080 --config 1280x720|0|demo-1280x720|
deb    velquorin         1920x1080 --fullscreen|0|demo-1280x720|
deb    velquorin         1920x1200 --fullscreen|0|demo-1920x1200|
deb    velquorin         1920x1200 --config 1280x720|0|demo-1280x720|
tar.gz velquorin         1920x1080 --fullscreen|0|demo-1280x720|
deb    velquorin         1920x1200 --gentle|0|demo-gentle|
deb    velquorin         1920x1200 --gentle --fullscreen|0|demo-1920x1200-gentle|
tar.gz velquorin         1920x1080 --config 1280x720 --gentle|0|demo-1280x720-gentle|
deb    velquorin         1920x1200 --config 1x1|2|none|velquorin: --config must be 960x600, 1920x1200 or 1280x720, not '1x1'
deb    velquorin         1920x1200 --fullscreen --config 960x600|2|none|velquorin: one option at most besides --gentle, not --fullscreen and --config
deb    velquorin         1920x1200 --gentle --gentle|2|none|velquorin: --gentle given twice
deb    velquorin         1920x1200 --gentle --help|2|none|velquorin: --help goes alone, not with --gentle
deb    velquorin         none      --fullscreen|1|none|velquorin: cannot read the screen's size (no DISPLAY); playing 1920x1200
partial velquorin        1920x1200 --gentle|1|none|velquorin: no gentle program at $partial/$program_dir/demo-gentle: this installation lacks the gentle version"
[ "$with_preview" = 0 ] || rows+=$'\n'"deb    velquorin-preview 1920x1200 --config 1280x720|0|preview-1280x720|preview: \
the embedded stages are shown; --shaders DIR watches a folder of stage files"
# grab PROGRAM FRAME DISPLAY ARGUMENTS...: runs PROGRAM from $work under the controlled clock, 34 s a frame, and
# keeps its frame at 34 s in FRAME (nothing when it drew none); the output goes to $work/pick.txt.
grab() {
    local program=$1 frame=$2 display=$3
    shift 3
    rm -f "$frame"
    (cd "$work" && timeout -k 10 60 env DISPLAY="$display" LD_PRELOAD="$vclock" SDL_AUDIODRIVER=dummy \
        VCLOCK_STEP=34000 VCLOCK_EVENTS=2:quit VCLOCK_GRAB="$frame" VCLOCK_GRAB_FRAMES=1 "$program" "$@" \
        >"$work/pick.txt" 2>&1)
}
while IFS='|' read -r run status program line; do
    read -r tree command screen arguments <<<"$run"
    launcher=$root/usr/bin/$command what="$tree on $screen: $command $arguments"
    [ "$tree" = tar.gz ] && launcher=$unpacked/bin/$command
    [ "$tree" = partial ] && launcher=$partial/bin/$command
    # shellcheck disable=SC2086 # the arguments are words
    grab "$launcher" "$work/pick.ppm" "${screens[$screen]}" $arguments
    actual=$? said=$(head -n 1 "$work/pick.txt")
    drawn=none
    if [ -s "$work/pick.ppm" ] && [ "$program" != none ]; then
        [ -s "$work/$program.ppm" ] ||
            (cd "$root/usr/share/velquorin" && grab "$root/usr/$program_dir/$program" "$work/$program.ppm" "${screens[$screen]}")
        cmp -s "$work/pick.ppm" "$work/$program.ppm" && drawn=$program
    elif [ -s "$work/pick.ppm" ]; then
        drawn="a frame"
    fi
    echo "$what: status $actual, drew $drawn; $said"
    [ "$actual|$drawn|$said" = "$status|$program|$line" ] ||
        fail "$what: expected status $status, the frame of $program and the line '$line'"
    [ "$status" != 2 ] || sed -n 2p "$work/pick.txt" | grep -q "^usage: $command " ||
        fail "$what: expected the usage after the line"
done <<<"$rows"

# The launcher's own command line: --version names it and the version, a bad argument writes nothing to stdout,
# and the preview's --help lists the keys of its manual page, row for row.
version=$("$root/usr/bin/velquorin" --version)
case $version in "velquorin "[0-9]*) ;; *) fail "velquorin --version said '$version'" ;; esac
[ -z "$("$root/usr/bin/velquorin" --speed 2>/dev/null)" ] || fail "velquorin: a bad argument wrote to stdout"
if [ "$with_preview" = 1 ]; then
    keys=$("$root/usr/bin/velquorin-preview" --help | tr -s ' ')
    while IFS=$'\t' read -r key what; do
        grep -qxF " ${key#\\&} $what" <<<"$keys" || fail "velquorin-preview --help lacks the key '$key': $what"
    done < <(zcat "$root/usr/share/man/man1/velquorin-preview.1.gz" | sed -n '/^\.SH KEYS/,/^\.TE/p' | grep $'\t')
fi

[ $failures -eq 0 ] && echo "packages made, unpacked and run: all checks passed"
exit $((failures > 0))
