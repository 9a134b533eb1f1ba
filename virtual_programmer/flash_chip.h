// A 4 MB AMD-style NOR flash chip as the supported chips' datasheets describe
// it: unlock cycles, autoselect, reset, sector and chip erase with toggling
// status until done, programming that only clears bits.
//
// The chip runs in byte mode. Command cycles decode the low twelve address
// bits (0xAAA, 0x555); the sector of an erase comes from the high ones.
// Erase and program are timed in virtual microseconds: every access passes
// the time now, and an operation whose time has passed is finished by the
// next access (or by flashSettle).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "virtual_programmer/timing.h"

namespace vprog {

inline constexpr std::uint32_t kFlashSize = 0x400000;
inline constexpr std::uint32_t kFlashBootSectorSize = 0x2000;
inline constexpr std::uint32_t kFlashMainSectorSize = 0x10000;
inline constexpr int kFlashBootSectorCount = 8;

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
// The chip's sectors from the bottom up: 71 on a bottom-boot chip, 64 on the
// others.
int sectorCount(const ChipModel& chip);
Sector sectorAt(const ChipModel& chip, int index);

// Where the chip is in a command sequence. Each step names the cycles seen
// so far.
enum class FlashStep : std::uint8_t {
  Idle,          // nothing yet
  Unlock1,       // 0xAA at 0xAAA
  Unlock2,       // 0xAA, 0x55: the command byte comes next
  ProgramSetup,  // ... 0xA0: the next write programs a byte
  EraseSetup,    // ... 0x80: the second unlock pair comes next
  EraseUnlock1,  // ... 0x80, 0xAA
  EraseUnlock2,  // ... 0x80, 0xAA, 0x55: 0x30 or 0x10 comes next
};

// The embedded algorithm running in the chip, if any.
enum class FlashOp : std::uint8_t { None, Program, SectorErase, ChipErase };

// An operation end time that never comes.
inline constexpr std::uint64_t kFlashNever = UINT64_MAX;

// The chip's run-time state. `cells` points at the cartridge's flash bytes
// (VirtualCart::flash), which the chip does not own.
struct FlashChip {
  const ChipModel* model = nullptr;
  std::vector<std::uint8_t>* cells = nullptr;

  FlashStep step = FlashStep::Idle;
  bool autoselect = false;  // reads give the identification codes
  FlashOp op = FlashOp::None;
  std::uint64_t opEndUs = 0;
  std::uint32_t eraseStart = 0;  // the range being erased
  std::uint32_t eraseSize = 0;
  std::uint8_t programData = 0;  // the byte being programmed: its DQ7 shows inverted while busy
  std::uint8_t dq6 = 0;          // toggle bit I: flips on every status read
  std::uint8_t dq2 = 0;          // toggle bit II: flips on status reads inside the erased range

  // Faults, set by the board after attaching the chip.
  bool eraseNeverCompletes = false;  // every erase toggles forever
  std::uint64_t eraseExtraUs = 0;    // every erase takes this much longer than typical
  std::uint32_t faultsFired = 0;     // erases that a fault above changed

  // Cycles the chip did not expect, oldest first, for the board to list.
  // Only the first kFlashViolationsKept are kept; violationCount counts all.
  std::vector<std::string> violations;
  std::uint32_t violationCount = 0;
};

inline constexpr std::size_t kFlashViolationsKept = 64;

// Binds the chip to its row and its cells and powers it up: everything,
// faults and violations included, starts afresh. Cells of another size than
// 4 MB are resized to it, new bytes erased (0xFF).
void attachFlashChip(FlashChip& chip, int chipRow, std::vector<std::uint8_t>& cells);
// Power-up after the slot was switched off: command state and any operation
// in progress are lost (an erase cut short leaves the cells as they were);
// model, cells, faults and violations stay.
void resetFlashChip(FlashChip& chip);
// A bus write cycle reaching the chip at a flash offset (low address bits decode the unlock cycles).
inline void flashWriteCycle(FlashChip& chip, std::uint32_t offset, std::uint8_t data, std::uint64_t nowUs);
// A bus read at a flash offset: array data, ids in autoselect, status during an erase or program.
inline std::uint8_t flashRead(FlashChip& chip, std::uint32_t offset, std::uint64_t nowUs);
// True while an erase or a byte program is still in progress.
inline bool flashBusy(const FlashChip& chip, std::uint64_t nowUs);
// Finishes an operation whose time has passed, so that the cells show its
// result (before the cartridge is saved, say).
void flashSettle(FlashChip& chip, std::uint64_t nowUs);

// One write cycle of a stored command sequence, already turned into a flash
// offset.
struct FlashCycle {
  std::uint32_t offset;
  std::uint8_t data;
};

// What the board's firmware does for each byte of a flash block: the stored
// command cycles, the data write, a wait for the byte program (status
// polling that gives up once a byte's program time has passed) and a read
// back. Stops at the first byte that does not read back as written. Returns
// the number of bytes programmed and checked; nowUs advances by the time
// spent waiting.
std::uint32_t flashProgramBytes(FlashChip& chip, const FlashCycle* sequence, int sequenceLength,
                                std::uint32_t offset, const std::uint8_t* data, std::uint32_t length,
                                std::uint64_t& nowUs);

// The out-of-line halves of the accessors below: everything but the cycles
// of a byte program and plain array reads.
void flashWriteCycleSlow(FlashChip& chip, std::uint32_t offset, std::uint8_t data, std::uint64_t nowUs);
std::uint8_t flashReadSlow(FlashChip& chip, std::uint32_t offset, std::uint64_t nowUs);

// The data cycle of a byte program. Programming can only clear bits, so the
// cell keeps the AND of old and new data; it is written at once because
// reads show status, not the cell, until the program time has passed.
inline void flashStartProgram(FlashChip& chip, std::uint32_t offset, std::uint8_t data, std::uint64_t nowUs) {
  std::uint8_t& cell = (*chip.cells)[offset & (kFlashSize - 1)];
  cell = static_cast<std::uint8_t>(cell & data);
  chip.programData = data;
  chip.op = FlashOp::Program;
  chip.opEndUs = nowUs + timing::kFlashByteProgramUs;
  chip.step = FlashStep::Idle;
}

// A byte program ends by itself: the cells already hold its result, so only
// the busy state has to go. Erases are finished out of line.
inline void flashRetireProgram(FlashChip& chip, std::uint64_t nowUs) {
  if (chip.op == FlashOp::Program && nowUs >= chip.opEndUs) chip.op = FlashOp::None;
}

// The three cycles that lead to a byte program are by far the most frequent
// and are taken here; every other cycle goes to the full command decoder.
inline void flashWriteCycle(FlashChip& chip, std::uint32_t offset, std::uint8_t data, std::uint64_t nowUs) {
  flashRetireProgram(chip, nowUs);
  if (chip.op == FlashOp::None && !chip.autoselect) {
    const std::uint32_t low = offset & 0xFFF;
    switch (chip.step) {
      case FlashStep::Idle:
        if (data == 0xAA && low == 0xAAA) {
          chip.step = FlashStep::Unlock1;
          return;
        }
        break;
      case FlashStep::Unlock1:
        if (data == 0x55 && low == 0x555) {
          chip.step = FlashStep::Unlock2;
          return;
        }
        break;
      case FlashStep::Unlock2:
        if (data == 0xA0 && low == 0xAAA) {
          chip.step = FlashStep::ProgramSetup;
          return;
        }
        break;
      case FlashStep::ProgramSetup:
        flashStartProgram(chip, offset, data, nowUs);
        return;
      default:
        break;
    }
  }
  flashWriteCycleSlow(chip, offset, data, nowUs);
}

inline std::uint8_t flashRead(FlashChip& chip, std::uint32_t offset, std::uint64_t nowUs) {
  flashRetireProgram(chip, nowUs);
  if (chip.op != FlashOp::None || chip.autoselect) return flashReadSlow(chip, offset, nowUs);
  return (*chip.cells)[offset & (kFlashSize - 1)];
}

inline bool flashBusy(const FlashChip& chip, std::uint64_t nowUs) {
  return chip.op != FlashOp::None && nowUs < chip.opEndUs;
}

}  // namespace vprog
