// A 93C46 three-wire serial EEPROM, 128 x 8, driven pin by pin: chip select,
// clock and data in; data out.
#pragma once

#include <cstdint>
#include <vector>

namespace vprog {

inline constexpr std::uint32_t kEepromSize = 128;

// `cells` points at the cartridge's EEPROM bytes (VirtualCart::eeprom).
struct Eeprom93C46 {
  std::vector<std::uint8_t>* cells = nullptr;
  // Filled in by the EEPROM model: pin levels, shift register, instruction
  // state, write enable latch, busy-until time, fault settings.
};

void attachEeprom(Eeprom93C46& eeprom, std::vector<std::uint8_t>& cells);
// New pin levels; a rising clock edge shifts in the data line.
void eepromSetPins(Eeprom93C46& eeprom, bool cs, bool sk, bool di, std::uint64_t nowUs);
// The level of the data output line now.
bool eepromDataOut(const Eeprom93C46& eeprom, std::uint64_t nowUs);

}  // namespace vprog
