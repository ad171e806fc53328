#!/usr/bin/env bash
# Second command: installs what is missing, builds every display configuration in one tree and runs every test
# headless.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

cmake -S . -B build >/dev/null
cmake --build build -j"$(nproc)"

# A private X server for the GL and end-to-end tests. -noreset keeps it up between clients.
source scripts/xvfb.sh
start_xvfb

export SDL_AUDIODRIVER=dummy
cd build && ctest --output-on-failure
