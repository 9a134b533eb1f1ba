#include "virtual_programmer/flash_chip.h"

#include <algorithm>
#include <cstdio>

namespace vprog {

const ChipModel kChipModels[] = {
    {"Atmel AT49BV322D", 0x1F, 0xC8, true},
    {"Atmel AT49BV322DT", 0x1F, 0xC9, false},
    {"Spansion S29JL032H-21", 0x01, 0x55, false},
    {"Spansion S29JL032H-31", 0x01, 0x50, false},
    {"Spansion S29JL032H-41", 0x01, 0x5C, false},
    {"Spansion S29JL032H-22", 0x01, 0x56, true},
    {"Spansion S29JL032H-32", 0x01, 0x53, true},
    {"Spansion S29JL032H-42", 0x01, 0x5F, true},
    {"Winbond W19B320AB", 0xDA, 0x7E, true},
};
const int kChipModelCount = static_cast<int>(sizeof kChipModels / sizeof kChipModels[0]);

namespace {

constexpr std::uint32_t kOffsetMask = kFlashSize - 1;
constexpr std::uint32_t kBootArea = kFlashBootSectorSize * kFlashBootSectorCount;

// Status bits while an embedded algorithm runs (byte mode, DQ7..DQ0).
constexpr std::uint8_t kDq7 = 0x80;
constexpr std::uint8_t kDq6 = 0x40;
constexpr std::uint8_t kDq3 = 0x08;  // the sector erase timer has run out: erasing
constexpr std::uint8_t kDq2 = 0x04;

// Counts a violation; true when there is still room to keep its text.
bool countViolation(FlashChip& chip) {
  ++chip.violationCount;
  return chip.violations.size() < kFlashViolationsKept;
}

void addViolation(FlashChip& chip, const char* format, unsigned a, unsigned b) {
  if (!countViolation(chip)) return;
  char text[256];
  std::snprintf(text, sizeof text, format, a, b);
  chip.violations.emplace_back(text);
}

const char* stepText(FlashStep step) {
  switch (step) {
    case FlashStep::Idle:
      return "outside a command";
    case FlashStep::Unlock1:
      return "after the first unlock cycle (0x55 at 0x555 expected)";
    case FlashStep::Unlock2:
      return "after the unlock cycles (a command byte at 0xAAA expected)";
    case FlashStep::ProgramSetup:
      return "after the program command";
    case FlashStep::EraseSetup:
      return "after the erase setup (0xAA at 0xAAA expected)";
    case FlashStep::EraseUnlock1:
      return "after the erase setup's first unlock cycle (0x55 at 0x555 expected)";
    case FlashStep::EraseUnlock2:
      return "after the erase setup's unlock cycles (0x30 at a sector or 0x10 at 0xAAA expected)";
  }
  return "";
}

// A cycle that does not fit the sequence: the chip drops the sequence and
// reads array data again.
void brokenSequence(FlashChip& chip, std::uint32_t offset, std::uint8_t data) {
  if (countViolation(chip)) {
    char text[256];
    std::snprintf(text, sizeof text, "flash: write 0x%02X at 0x%06X %s%s; chip back to reading", data, offset,
                  chip.autoselect ? "in autoselect mode " : "", stepText(chip.step));
    chip.violations.emplace_back(text);
  }
  chip.step = FlashStep::Idle;
  chip.autoselect = false;
}

void startErase(FlashChip& chip, FlashOp op, Sector range, std::uint64_t typicalUs, std::uint64_t nowUs) {
  chip.op = op;
  chip.eraseStart = range.start;
  chip.eraseSize = range.size;
  chip.step = FlashStep::Idle;
  if (chip.eraseNeverCompletes) {
    chip.opEndUs = kFlashNever;
    ++chip.faultsFired;
  } else {
    chip.opEndUs = nowUs + typicalUs + chip.eraseExtraUs;
    if (chip.eraseExtraUs != 0) ++chip.faultsFired;
  }
}

void finishOperation(FlashChip& chip) {
  if (chip.op == FlashOp::SectorErase || chip.op == FlashOp::ChipErase) {
    auto first = chip.cells->begin() + chip.eraseStart;
    std::fill(first, first + chip.eraseSize, std::uint8_t{0xFF});
  }
  chip.op = FlashOp::None;
}

std::uint8_t statusRead(FlashChip& chip, std::uint32_t offset) {
  chip.dq6 ^= kDq6;
  if (chip.op == FlashOp::Program) {
    return static_cast<std::uint8_t>((~chip.programData & kDq7) | chip.dq6);
  }
  // Erasing: DQ7 reads 0 (the complement of erased data) and DQ3 1; DQ2
  // toggles only on reads inside the range being erased.
  if (offset - chip.eraseStart < chip.eraseSize) chip.dq2 ^= kDq2;
  return static_cast<std::uint8_t>(chip.dq6 | kDq3 | chip.dq2);
}

// Autoselect codes, decoded on the low address bits within any sector:
// manufacturer at 0x00, device at 0x02, the sector protection state at 0x04
// (0x00, unprotected) and nothing else.
std::uint8_t autoselectRead(const FlashChip& chip, std::uint32_t offset) {
  switch (offset & 0xFF) {
    case 0x00:
      return chip.model->manufacturerId;
    case 0x02:
      return chip.model->deviceId;
    default:
      return 0x00;
  }
}

}  // namespace

Sector sectorOf(const ChipModel& chip, std::uint32_t offset) {
  offset &= kOffsetMask;
  if (chip.bottomBoot && offset < kBootArea) {
    return {offset & ~(kFlashBootSectorSize - 1), kFlashBootSectorSize};
  }
  return {offset & ~(kFlashMainSectorSize - 1), kFlashMainSectorSize};
}

int sectorCount(const ChipModel& chip) {
  const int mainSectors = static_cast<int>(kFlashSize / kFlashMainSectorSize);
  return chip.bottomBoot ? mainSectors - 1 + kFlashBootSectorCount : mainSectors;
}

Sector sectorAt(const ChipModel& chip, int index) {
  if (chip.bottomBoot) {
    if (index < kFlashBootSectorCount) {
      return {static_cast<std::uint32_t>(index) * kFlashBootSectorSize, kFlashBootSectorSize};
    }
    index -= kFlashBootSectorCount - 1;
  }
  return {static_cast<std::uint32_t>(index) * kFlashMainSectorSize, kFlashMainSectorSize};
}

void attachFlashChip(FlashChip& chip, int chipRow, std::vector<std::uint8_t>& cells) {
  chip = FlashChip{};
  chip.model = &kChipModels[chipRow];
  if (cells.size() != kFlashSize) cells.resize(kFlashSize, 0xFF);
  chip.cells = &cells;
}

void resetFlashChip(FlashChip& chip) {
  chip.step = FlashStep::Idle;
  chip.autoselect = false;
  chip.op = FlashOp::None;
  chip.opEndUs = 0;
  chip.dq6 = 0;
  chip.dq2 = 0;
}

void flashSettle(FlashChip& chip, std::uint64_t nowUs) {
  if (chip.op != FlashOp::None && nowUs >= chip.opEndUs) finishOperation(chip);
}

void flashWriteCycleSlow(FlashChip& chip, std::uint32_t offset, std::uint8_t data, std::uint64_t nowUs) {
  offset &= kOffsetMask;
  if (chip.op != FlashOp::None) {
    if (nowUs < chip.opEndUs) {
      // The embedded algorithm ignores every command while it runs (erase
      // suspend is not modelled).
      addViolation(chip,
                   chip.op == FlashOp::Program ? "flash: write 0x%02X at 0x%06X while a byte program runs; ignored"
                                               : "flash: write 0x%02X at 0x%06X while an erase runs; ignored",
                   data, offset);
      return;
    }
    finishOperation(chip);
  }
  const std::uint32_t low = offset & 0xFFF;

  if (chip.step == FlashStep::ProgramSetup) {
    flashStartProgram(chip, offset, data, nowUs);
    return;
  }
  // Reset is taken at any address, with or without the unlock cycles, and in
  // the middle of a sequence.
  if (data == 0xF0) {
    chip.step = FlashStep::Idle;
    chip.autoselect = false;
    return;
  }

  switch (chip.step) {
    case FlashStep::Idle:
      if (data == 0xAA && low == 0xAAA) {
        chip.step = FlashStep::Unlock1;
        return;
      }
      if (chip.autoselect) {
        brokenSequence(chip, offset, data);
      } else {
        // Array data cannot be written without the program command; the
        // chip stays in read mode.
        addViolation(chip, "flash: write 0x%02X at 0x%06X outside a command; ignored", data, offset);
      }
      return;
    case FlashStep::Unlock1:
      if (data == 0x55 && low == 0x555) {
        chip.step = FlashStep::Unlock2;
        return;
      }
      break;
    case FlashStep::Unlock2:
      if (low != 0xAAA) break;
      if (data == 0x90) {
        chip.autoselect = true;
        chip.step = FlashStep::Idle;
        return;
      }
      // In autoselect mode only reset or autoselect are taken: the chip has
      // to be reset before it programs or erases.
      if (chip.autoselect) break;
      if (data == 0xA0) {
        chip.step = FlashStep::ProgramSetup;
        return;
      }
      if (data == 0x80) {
        chip.step = FlashStep::EraseSetup;
        return;
      }
      break;
    case FlashStep::EraseSetup:
      if (data == 0xAA && low == 0xAAA) {
        chip.step = FlashStep::EraseUnlock1;
        return;
      }
      break;
    case FlashStep::EraseUnlock1:
      if (data == 0x55 && low == 0x555) {
        chip.step = FlashStep::EraseUnlock2;
        return;
      }
      break;
    case FlashStep::EraseUnlock2:
      if (data == 0x30) {
        const Sector sector = sectorOf(*chip.model, offset);
        startErase(chip, FlashOp::SectorErase, sector,
                   sector.size == kFlashBootSectorSize ? timing::kFlashBootSectorEraseUs
                                                       : timing::kFlashMainSectorEraseUs,
                   nowUs);
        return;
      }
      if (data == 0x10 && low == 0xAAA) {
        startErase(chip, FlashOp::ChipErase, Sector{0, kFlashSize}, timing::kFlashChipEraseUs, nowUs);
        return;
      }
      break;
    case FlashStep::ProgramSetup:
      break;
  }
  brokenSequence(chip, offset, data);
}

std::uint8_t flashReadSlow(FlashChip& chip, std::uint32_t offset, std::uint64_t nowUs) {
  offset &= kOffsetMask;
  if (chip.op != FlashOp::None) {
    if (nowUs < chip.opEndUs) return statusRead(chip, offset);
    finishOperation(chip);
  }
  if (chip.autoselect) return autoselectRead(chip, offset);
  return (*chip.cells)[offset];
}

std::uint32_t flashProgramBytes(FlashChip& chip, const FlashCycle* sequence, int sequenceLength,
                                std::uint32_t offset, const std::uint8_t* data, std::uint32_t length,
                                std::uint64_t& nowUs) {
  // From an idle chip the byte program cycles can only take the chip to
  // its program setup, so those cycles are skipped and the data cycle taken
  // straight away; any other state runs every cycle through the decoder.
  const bool programSequence = sequenceLength == 3 && (sequence[0].offset & 0xFFF) == 0xAAA &&
                               sequence[0].data == 0xAA && (sequence[1].offset & 0xFFF) == 0x555 &&
                               sequence[1].data == 0x55 && (sequence[2].offset & 0xFFF) == 0xAAA &&
                               sequence[2].data == 0xA0;
  std::uint64_t now = nowUs;
  std::uint32_t done = 0;
  for (; done < length; ++done) {
    const std::uint32_t at = offset + done;
    const std::uint8_t value = data[done];
    flashRetireProgram(chip, now);
    if (programSequence && chip.op == FlashOp::None && !chip.autoselect && chip.step == FlashStep::Idle) {
      flashStartProgram(chip, at, value, now);
    } else {
      for (int i = 0; i < sequenceLength; ++i) flashWriteCycle(chip, sequence[i].offset, sequence[i].data, now);
      flashWriteCycle(chip, at, value, now);
    }
    // Status polling ends when the byte program is over; the firmware does
    // not wait out an erase that is still running.
    if (chip.op == FlashOp::Program && now < chip.opEndUs) now = chip.opEndUs;
    if (flashRead(chip, at, now) != value) break;
  }
  nowUs = now;
  return done;
}

}  // namespace vprog
