#!/usr/bin/env bash
# Packs everything a GPU machine without a package registry needs to render and time the show into one archive,
# build-gpu/velquorin-gpu.tar.xz: the demo and the benchmark of each display configuration (one release build),
# the controlled clock, the capture tool, the music, compare_frames, an X server with GLX and its keymap compiler
# and data, Mesa's software renderer for that server (and as the fallback client), and every shared library they
# load except glibc's own. bench/gpu/run.sh unpacks and runs it. Usage: bench/gpu/pack.sh
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
out=build-gpu
stage=$out/stage/velquorin-gpu
archive=$out/velquorin-gpu.tar.xz
multiarch=/usr/lib/x86_64-linux-gnu

fail() { echo "pack: $*"; exit 1; }

scripts/install-deps.sh

# One release build, only the targets that travel: every configuration's demo and benchmark, the tools and the
# music.
build=$out/build
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DDEMO_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target demo demo-1920x1200 demo-1280x720 demo_bench demo_bench-1920x1200 \
    demo_bench-1280x720 vclock capture compare_frames soundtrack >/dev/null || fail "the release build failed"

# In the bundle each configuration keeps its own folder, with its programs under their plain names.
rm -rf "$out/stage"
mkdir -p "$stage"/{bin,lib/dri,share/X11,tools}
for display in 960x600 1920x1200 1280x720; do
    suffix=-$display
    [ "$display" = 960x600 ] && suffix=
    mkdir -p "$stage/$display"
    cp "$build/demo$suffix" "$stage/$display/demo"
    cp "$build/bench/demo_bench$suffix" "$stage/$display/demo_bench"
done
cp "$build/Tarnhollow_4.mp3" "$stage/960x600/"
cp "$build/capture" "$build/libvclock.so" "$build/bench/compare_frames" "$stage/tools/"
cp "$(command -v Xvfb)" "$(command -v xkbcomp)" "$stage/bin/"
cp -r /usr/share/X11/xkb "$stage/share/X11/"
# Mesa: the DRI driver that gives Xvfb its GLX (and clients llvmpipe), its GL API library, glvnd's vendor
# library for Mesa and glvnd's dispatch libraries. The NVIDIA vendor library comes with the GPU machine's driver.
cp -L "$multiarch/dri/swrast_dri.so" "$stage/lib/dri/"
cp -L "$multiarch/libGLX_mesa.so.0" "$multiarch/libglapi.so.0" "$multiarch/libGL.so.1" "$multiarch/libGLX.so.0" \
    "$multiarch/libGLdispatch.so.0" "$stage/lib/"
# SDL_mixer opens its MP3 decoder at run time, so no ldd lists it.
cp -L "$multiarch/libmad.so.0" "$stage/lib/"

# Xvfb runs its keymap compiler from a path fixed at build time ("/usr/bin"), which a bare machine lacks. That
# one string becomes "bin", relative to the bundle, where run.sh starts the server.
xvfb=$stage/bin/Xvfb
at=$(LC_ALL=C grep -obUaP '\x00/usr/bin\x00' "$xvfb" | cut -d: -f1)
[ "$(echo "$at" | wc -w)" -eq 1 ] || fail "expected the string /usr/bin once in $xvfb, found it at: ${at//$'\n'/ }"
printf 'bin\0\0\0\0\0\0' | dd of="$xvfb" bs=1 seek=$((at + 1)) conv=notrunc status=none

# Every library the programs and the driver load, as this machine resolves them, except glibc's: the GPU
# machine's own C library runs them (newer glibc versions keep the old symbols).
glibc='^(ld-linux-x86-64|libc|libm|libdl|libpthread|librt|libresolv|libutil|libanl|libmvec)\.so'
elves=("$stage"/bin/* "$stage"/tools/* "$stage"/*/demo "$stage"/*/demo_bench "$stage"/lib/dri/*)
for _ in 1 2; do   # the second round takes in what the first round's libraries need
    for elf in "${elves[@]}" "$stage"/lib/*; do
        file -bL "$elf" | grep -q ELF || continue
        libraries=$(ldd "$elf") || fail "ldd cannot read $elf"
        while read -r name arrow path _; do
            [ "$arrow" = "=>" ] || continue
            [ "$path" = "not" ] && fail "$elf needs $name, which this machine lacks"
            [[ $name =~ $glibc ]] && continue
            [ -e "$stage/lib/$name" ] || cp -L "$path" "$stage/lib/$name"
        done <<<"$libraries"
    done
done

strip --strip-unneeded "$stage"/bin/* "$stage"/tools/* "$stage"/*/demo "$stage"/*/demo_bench "$stage"/lib/*.so* \
    "$stage"/lib/dri/*.so 2>/dev/null || true
{
    echo "velquorin GPU bundle, packed $(date -u +%Y-%m-%dT%H:%M:%SZ) from $(git -C "$root" describe --always --dirty)"
    echo "on $(. /etc/os-release && echo "$PRETTY_NAME"), $(dpkg-query -W -f='Mesa ${Version}' libgl1-mesa-dri)"
    dpkg-query -W -f='Xvfb ${Version}\n' xvfb
} >"$stage/VERSION"

tar -C "$out/stage" -cf - velquorin-gpu | xz -9 -T2 >"$archive.partial"
mv "$archive.partial" "$archive"
echo "pack: $archive, $(du -m "$archive" | cut -f1) MiB ($(du -sm "$stage" | cut -f1) MiB unpacked)"
