#!/usr/bin/env bash
# Builds from scratch and runs the whole test suite twice: a normal build, and
# one under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/ensure_tools.sh

jobs=$(nproc 2>/dev/null || echo 2)
for variant in normal sanitizers; do
  dir="build-tests/$variant"
  rm -rf "$dir"
  sanitize=OFF
  [ "$variant" = sanitizers ] && sanitize=ON
  echo "== $variant build =="
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCARTRIDGE_SANITIZERS=$sanitize >/dev/null
  ninja -C "$dir"
  (cd "$dir" && ctest --output-on-failure -j "$jobs")
done
echo "All tests passed in both builds."
