// The virtual cartridge file: one versioned file holding everything of a
// VirtualCart, saved atomically so that a crash never leaves half a file.
//
// Layout, every number little-endian:
//   offset 0   8 bytes  magic "CARTSIM" 0x1A
//   offset 8   u32      format version (kCartFileVersion)
//   offset 12  u32      content length n
//   offset 16  n bytes  content: sections, each a 4-character tag, a u32
//                       payload length and the payload
//   offset 16+n u32     CRC-32 (IEEE) of the bytes before it
// Sections: "CART" (kind, map mode, chip row, EEPROM fitted), one per memory
// ("FLSH", "EEPR", "ROM ", "SRAM", "SFXR"), "FLTS" (the faults) and "VIOL"
// (the protocol violations). Each appears at most once; a memory that is
// absent is empty, absent faults are none and absent violations an empty
// list. A tag this version does not know is refused, so that nothing is
// dropped silently when the file is saved again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "virtual_programmer/cart_state.h"

namespace vprog {

inline constexpr std::uint32_t kCartFileVersion = 1;

// Refuses a missing, truncated, foreign or newer-version file with a message
// in error; cart is then unchanged.
bool loadCartFile(const std::string& path, VirtualCart& cart, std::string& error);
// Writes a temporary file in the same folder and renames it over path.
bool saveCartFile(const std::string& path, const VirtualCart& cart, std::string& error);

// The file's bytes for a cartridge, and back. decodeCart refuses anything
// that checkCart would refuse, and leaves cart unchanged when it refuses.
std::vector<std::uint8_t> encodeCart(const VirtualCart& cart);
bool decodeCart(const std::vector<std::uint8_t>& bytes, VirtualCart& cart, std::string& error);

// The sizes and values a cartridge must have to be stored: a flash
// cartridge has 4 MB of flash, a known chip row, 0, 2, 8 or 32 KB of save
// RAM and a 128-byte EEPROM (or none when it is not fitted); a game
// cartridge has 1 byte to 8 MB of ROM and at most 128 KB each of save RAM
// and Super FX RAM.
bool checkCart(const VirtualCart& cart, std::string& error);

// CRC-32 as zip and PNG use it (reflected, polynomial 0xEDB88320).
std::uint32_t crc32(const std::uint8_t* data, std::size_t size);

}  // namespace vprog
