// The virtual cartridge: everything that lives in a virtual cartridge file.
// The board's and the chips' run-time state (parser position, chip command
// state, pending erase) is not part of it: a real cartridge loses that when
// the slot is switched off.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vprog {

enum class CartKind : std::uint8_t { Flash = 1, Game = 2 };

// How a game cartridge's board decodes the bus. A flash cartridge takes
// LoRom or HiRom from its settings record.
enum class MapMode : std::uint8_t { LoRom = 0, HiRom = 1, ExHiRom = 2 };

enum class EraseFault : std::uint8_t {
  None = 0,
  Never = 1,  // the erase never completes: the chip keeps toggling
  Late = 2,   // the erase takes eraseLateMs longer than its typical time
};

// Faults injected at the board, configurable per cartridge file and counted
// when they fire.
struct Faults {
  std::int32_t failingBlock = -1;           // flash offset / 1024 whose programming fails; -1 none
  std::uint8_t failingBlockStatus = 'X';    // the status byte answered for it
  EraseFault erase = EraseFault::None;
  std::uint32_t eraseLateMs = 0;
  bool noEeprom = false;                    // the EEPROM does not answer (DO stays low)
  bool eepromStaysBusy = false;             // a write cycle never ends
  bool dirtyContact = false;                // from the second read of a block on, some bytes differ
  std::uint64_t unplugAfterBytes = 0;       // the device is gone after this many bytes; 0 never
  std::uint32_t fired = 0;                  // how many times any fault took effect
};

struct VirtualCart {
  CartKind kind = CartKind::Flash;

  // Flash cartridge.
  std::int32_t chipRow = 0;            // row of the flash chip table
  std::vector<std::uint8_t> flash;     // 4 MB of flash cells
  bool hasEeprom = true;               // the 93C46 settings EEPROM is fitted
  std::vector<std::uint8_t> eeprom;    // 128 bytes

  // Game cartridge.
  MapMode mapMode = MapMode::LoRom;
  std::vector<std::uint8_t> rom;       // up to 8 MB
  std::vector<std::uint8_t> superFxRam;  // empty when the board has no Super FX RAM

  // Both kinds: battery-backed save RAM (0, 2, 8 or 32 KB on a flash cartridge).
  std::vector<std::uint8_t> sram;

  Faults faults;
  // Protocol violations the board saw, oldest first, kept across runs so
  // that the tool can list them.
  std::vector<std::string> violations;
};

}  // namespace vprog
