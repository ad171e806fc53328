#!/usr/bin/env bash
# Second command: installs what is missing, builds every display configuration and runs every test headless.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

jobs=$(nproc)
cmake -S . -B build >/dev/null
cmake --build build -j"$jobs"
for display in 1920x1200 1280x720; do
    cmake -S . -B "build-$display" -DDEMO_DISPLAY="$display" >/dev/null
    cmake --build "build-$display" -j"$jobs"
done

# A private X server for the GL and end-to-end tests. -noreset keeps it up between clients.
source scripts/xvfb.sh
start_xvfb

export SDL_AUDIODRIVER=dummy
status=0
(cd build && ctest --output-on-failure) || status=1
for display in 1920x1200 1280x720; do
    (cd "build-$display" && ctest --output-on-failure -L config) || status=1
done
exit $status
