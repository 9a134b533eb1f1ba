// A 4 MB AMD-style NOR flash chip as the supported chips' datasheets describe
// it: unlock cycles, autoselect, reset, sector and chip erase with toggling
// status until done, programming that only clears bits.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vprog {

inline constexpr std::uint32_t kFlashSize = 0x400000;

struct ChipModel {
  const char* name;
  std::uint8_t manufacturerId;
  std::uint8_t deviceId;
  bool bottomBoot;  // eight 8 KB sectors at the bottom, then 64 KB sectors
};

// The chips a flash cartridge may carry, by row.
extern const ChipModel kChipModels[];
extern const int kChipModelCount;

// The sector holding a flash offset: its first offset and its size.
struct Sector {
  std::uint32_t start;
  std::uint32_t size;
};
Sector sectorOf(const ChipModel& chip, std::uint32_t offset);

// The chip's run-time state. `cells` points at the cartridge's flash bytes
// (VirtualCart::flash), which the chip does not own.
struct FlashChip {
  const ChipModel* model = nullptr;
  std::vector<std::uint8_t>* cells = nullptr;
  // Filled in by the chip model: command state, pending erase, toggle bit,
  // fault settings (an erase that never ends or ends late), violations.
};

void attachFlashChip(FlashChip& chip, int chipRow, std::vector<std::uint8_t>& cells);
// A bus write cycle reaching the chip at a flash offset (low address bits decode the unlock cycles).
void flashWriteCycle(FlashChip& chip, std::uint32_t offset, std::uint8_t data, std::uint64_t nowUs);
// A bus read at a flash offset: array data, ids in autoselect, status during an erase or program.
std::uint8_t flashRead(FlashChip& chip, std::uint32_t offset, std::uint64_t nowUs);
// True while an erase or a byte program is still in progress.
bool flashBusy(const FlashChip& chip, std::uint64_t nowUs);

}  // namespace vprog
