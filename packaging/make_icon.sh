#!/usr/bin/env bash
# Makes the menu icon packaging/velquorin.png from a still of the show: the cube at 20.1 s, cropped to a
# square around it and scaled to 128 x 128. Run it again after the gallery changes; the icon is committed.
set -euo pipefail
cd "$(dirname "$0")/.."
ffmpeg -hide_banner -loglevel error -y -i docs/gallery/cube.png \
    -vf "crop=400:400:270:100,scale=128:128:flags=lanczos,format=rgb24" -frames:v 1 -fflags +bitexact \
    packaging/velquorin.png
