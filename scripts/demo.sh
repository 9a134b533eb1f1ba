#!/usr/bin/env bash
# The main job on the virtual programmer: builds the tools and runs romwright.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/ensure_tools.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DCARTRIDGE_TESTS=OFF >/dev/null
ninja -C build >/dev/null
./build/bin/romwright
