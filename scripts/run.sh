#!/usr/bin/env bash
# First command: installs what is missing, builds the default configuration and plays the show on this display.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build >/dev/null
cmake --build build -j"$(nproc)"

# The demo loads its music from the working directory, where the build left it.
cd build
exec ./demo
