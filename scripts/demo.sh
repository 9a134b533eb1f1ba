#!/usr/bin/env bash
# The main job on the virtual programmer, no board needed: builds the tools,
# makes a demo ROM and a blank virtual flash cartridge in a temporary folder,
# and runs romwright against that cartridge. --keep keeps the folder.
set -euo pipefail
cd "$(dirname "$0")/.."

# Program demo.sfc into the cartridge, show the settings record it wrote,
# read the ROM back and compare. Off while romwright's flash write and
# settings steps are not in yet: the demo then reads the blank cartridge.
flash_demo=false

keep=false
[ "${1:-}" = "--keep" ] && keep=true

scripts/ensure_tools.sh
echo "Building into build-demo/ ..."
cmake -S . -B build-demo -G Ninja -DCMAKE_BUILD_TYPE=Release -DCARTRIDGE_TESTS=OFF >/dev/null
ninja -C build-demo >/dev/null
bin=$PWD/build-demo/bin

work=$(mktemp -d)
if $keep; then
  echo "Working in $work (kept)"
else
  trap 'rm -rf "$work"' EXIT
  echo "Working in $work (removed at the end; --keep keeps it)"
fi
cd "$work"
cart=$work/cart.vcart

failures=0

# Runs a command after printing it; a non-zero status is reported and
# counted, and the demo goes on so that the cartridge can still be shown.
step() {
  local title=$1
  shift
  printf '\n== %s\n$ %s\n' "$title" "$*"
  local status=0
  "$@" || status=$?
  if [ "$status" -ne 0 ]; then
    echo "-> exit status $status"
    failures=$((failures + 1))
  fi
  return 0
}

romwright() { CARTLINK_VIRTUAL_CART=$cart "$bin/romwright" "$@"; }

step "A 256 KB LoROM demo ROM with 8 KB of save RAM" \
  "$bin/cartsim" demo-rom demo.sfc --size 256 --sram 8
step "A blank virtual flash cartridge" \
  "$bin/cartsim" new cart.vcart --flash --chip "Spansion S29JL032H-22" --sram 32
echo "(romwright runs below with CARTLINK_VIRTUAL_CART=$cart)"

step "Power the slot off" romwright -x
if $flash_demo; then
  step "Program demo.sfc into the flash cartridge" romwright -wf demo.sfc
  step "Show the settings record it wrote" romwright -re
fi
step "Read the ROM back (its size found by romwright)" romwright -rf dump.bin

if $flash_demo; then
  printf '\n== Compare the read-back with demo.sfc\n'
  if [ -f dump.bin ] && cmp -s demo.sfc dump.bin; then
    echo "dump.bin and demo.sfc are identical ($(stat -c %s demo.sfc) bytes)"
  else
    echo "dump.bin differs from demo.sfc"
    failures=$((failures + 1))
  fi
fi

step "What the virtual cartridge holds now" "$bin/cartsim" show cart.vcart

echo
if [ "$failures" -ne 0 ]; then
  echo "Demo failed: $failures step(s) went wrong."
  exit 1
fi
if $flash_demo; then
  echo "Demo done: demo.sfc was programmed, read back and found identical."
else
  echo "Demo done: the blank cartridge was read (flashing is not part of the demo yet)."
fi
