#!/usr/bin/env bash
# Makes sure the build tools are there: installs the missing Debian packages
# when run as root, otherwise says what to install. Extra packages (for
# instance libbenchmark-dev) can be named as arguments.
set -euo pipefail

missing=()
command -v cmake >/dev/null 2>&1 || missing+=(cmake)
command -v ninja >/dev/null 2>&1 || missing+=(ninja-build)
command -v g++ >/dev/null 2>&1 || missing+=(g++)
[ -f /usr/include/gtest/gtest.h ] || missing+=(libgtest-dev)
for package in "$@"; do
  dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
done

[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -eq 0 ] && command -v apt-get >/dev/null 2>&1; then
  echo "Installing ${missing[*]} ..." >&2
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq >&2
  apt-get install -y -qq "${missing[@]}" >&2
else
  echo "Missing: ${missing[*]}. Install them with: sudo apt-get install ${missing[*]}" >&2
  exit 1
fi
