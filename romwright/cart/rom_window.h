// Where chunk n of a ROM image sits on the cartridge bus. The dump, the
// verify and the flash write all go through this one table, so a cartridge is
// read back at exactly the addresses it was programmed at.
#pragma once

#include <cstdint>

#include "cartlink/protocol.h"

namespace romwright {

// A 4 MB image is 128 chunks of 32 KB.
inline constexpr std::uint32_t kRomWindowChunks = 128;

// The bus address of the first block of chunk n; its 32 blocks follow at
// steps of 0x400. HiROM: whole 64 KB banks from bank 0x40, so the chunk is the
// image offset in the 0x400000 window. LoROM: each bank shows 32 KB of ROM in
// its upper half, so chunk n is bank n, offsets 0x8000 to 0xFFFF.
constexpr cartlink::BusAddress romWindowAddress(bool isHiRom, std::uint32_t chunk) {
  if (isHiRom) return 0x400000u | (chunk * 0x8000u);
  return (chunk << 16) | 0x8000u;
}

}  // namespace romwright
