// How a cartridge in the slot decodes the 24-bit bus: which of its chips
// answers an address, at which offset, and for how many consecutive
// addresses the offsets run on, so that the board can move whole runs.
//
// The programmer board drives the cartridge's ROM select line itself (bit 0
// of the control byte), where a console derives it from the address. The
// cartridge sees: address, ROM select, read or write.
#pragma once

#include <cstdint>

#include "virtual_programmer/cart_state.h"

namespace vprog {

// What the data lines show when nothing on the cartridge drives them.
inline constexpr std::uint8_t kOpenBus = 0xFF;

enum class BusTarget : std::uint8_t {
  None,         // nothing answers: reads see kOpenBus, writes are lost
  Flash,        // the flash chip, at a flash offset
  Rom,          // the game ROM, at a ROM offset
  SaveRam,      // battery-backed save RAM
  SuperFxRam,   // the Super FX work RAM
  EepromLines,  // a write that sets the settings EEPROM's lines from address bits 14..12
};

struct BusMapping {
  BusTarget target = BusTarget::None;
  std::uint32_t offset = 0;
  // Consecutive bus addresses from this one that map to consecutive offsets
  // of the same target; at least 1, never past the end of the bank.
  std::uint32_t run = 1;
};

// The parts of a cartridge that decide its decoding.
struct CartView {
  CartKind kind = CartKind::Flash;
  // A game cartridge's board wiring; for a flash cartridge LoRom or HiRom,
  // as its settings record selects.
  MapMode mode = MapMode::LoRom;
  std::uint32_t romSize = 0;  // game ROM bytes (flash cartridges: the 4 MB chip)
  std::uint32_t saveRamSize = 0;
  std::uint32_t superFxRamSize = 0;
};

CartView viewOf(const VirtualCart& cart, MapMode flashMode);

BusMapping mapBus(const CartView& view, std::uint32_t address, bool romSelect, bool write);

// Where a board that wires a memory of `size` bytes into a larger address
// space shows address-space offset `offset`: the largest power-of-two part
// of the memory first, the rest repeated up to the next power of two, and
// the whole repeated from there. size must not be 0.
struct Mirrored {
  std::uint32_t offset;
  std::uint32_t run;  // offsets from `offset` on that stay consecutive
};
Mirrored mirrorInto(std::uint32_t offset, std::uint32_t size);

// The ROM area of the bus: everything a console decodes with ROM select
// asserted (banks 40-7F and C0-FF whole, the upper half of every other bank).
inline bool inRomArea(std::uint32_t address) {
  return (address & 0x400000) != 0 || (address & 0x8000) != 0;
}

}  // namespace vprog
