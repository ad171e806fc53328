#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing the demo need, if any are missing.
set -euo pipefail

packages=(
    build-essential cmake pkg-config          # toolchain
    libsdl1.2-dev libsdl-mixer1.2-dev libgl-dev   # the demo
    libmpg123-dev libsndfile1-dev libsamplerate0-dev   # the demo's music: decoding MPEG audio and WAV
    libmp3lame-dev                            # the soundtrack's encoder
    googletest libgtest-dev                   # unit and GL tests
    glslang-tools                             # the reference GLSL compiler, for the stage checks
    xvfb xauth x11-utils mesa-utils           # headless display for tests
    libgl1-mesa-dri                           # software OpenGL (llvmpipe)
    ffmpeg libpng-dev                         # decoding the track in tests, capture, stills, flash
    libcairo2-dev fonts-dejavu-core jq        # flash's plot and its text; reading its JSON in the tests
    dpkg-dev file lintian desktop-file-utils  # making and checking the .deb (tests/package)
    x11-xkb-utils xkb-data libglx-mesa0 libmad0 xz-utils   # what bench/gpu/pack.sh packs for a GPU machine
    time bc                                   # bench/compare.sh's timings
    groff-base graphviz                       # the manual pages' check (tests/docs); docs/frame.dot to SVG
)

# CI also runs the static analysers and the memory checker.
if [ "${1:-}" = "--ci" ]; then
    packages+=(clang-tidy cppcheck valgrind)
fi

# The fuzz targets (scripts/fuzz.sh, and CI) are built with clang and its libFuzzer.
if [ "${1:-}" = "--ci" ] || [ "${1:-}" = "--fuzz" ]; then
    packages+=(clang libclang-rt-14-dev)
fi

missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
