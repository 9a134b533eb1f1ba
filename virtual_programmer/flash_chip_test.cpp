#include "virtual_programmer/flash_chip.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "virtual_programmer/timing.h"

namespace vprog {
namespace {

// A chip on a cartridge whose flash holds `fill` everywhere, driven with the
// cycles a host sends through the bus.
struct FlashFixture {
  std::vector<std::uint8_t> cells;
  FlashChip chip;
  std::uint64_t now = 1'000;

  explicit FlashFixture(int row, std::uint8_t fill = 0x00) : cells(kFlashSize, fill) {
    attachFlashChip(chip, row, cells);
  }
  void write(std::uint32_t offset, std::uint8_t data) { flashWriteCycle(chip, offset, data, now); }
  std::uint8_t read(std::uint32_t offset) { return flashRead(chip, offset, now); }
  void unlock() {
    write(0xAAA, 0xAA);
    write(0x555, 0x55);
  }
  void command(std::uint8_t code) {
    unlock();
    write(0xAAA, code);
  }
  void program(std::uint32_t offset, std::uint8_t data) {
    command(0xA0);
    write(offset, data);
  }
  void eraseSector(std::uint32_t offset) {
    command(0x80);
    unlock();
    write(offset, 0x30);
  }
  void eraseChip() {
    command(0x80);
    unlock();
    write(0xAAA, 0x10);
  }
};

struct ExpectedRow {
  const char* name;
  std::uint8_t manufacturerId;
  std::uint8_t deviceId;
  bool bottomBoot;
};

const ExpectedRow kExpectedRows[] = {
    {"Atmel AT49BV322D", 0x1F, 0xC8, true},        {"Atmel AT49BV322DT", 0x1F, 0xC9, false},
    {"Spansion S29JL032H-21", 0x01, 0x55, false}, {"Spansion S29JL032H-31", 0x01, 0x50, false},
    {"Spansion S29JL032H-41", 0x01, 0x5C, false}, {"Spansion S29JL032H-22", 0x01, 0x56, true},
    {"Spansion S29JL032H-32", 0x01, 0x53, true},  {"Spansion S29JL032H-42", 0x01, 0x5F, true},
    {"Winbond W19B320AB", 0xDA, 0x7E, true},
};

TEST(FlashChip, EveryRowIdentifiesThroughAutoselectAndResetsToArrayData) {
  ASSERT_EQ(kChipModelCount, 9);
  for (int row = 0; row < kChipModelCount; ++row) {
    const ExpectedRow& want = kExpectedRows[row];
    SCOPED_TRACE(want.name);
    EXPECT_STREQ(kChipModels[row].name, want.name);
    EXPECT_EQ(kChipModels[row].bottomBoot, want.bottomBoot);

    FlashFixture f(row, 0x5A);
    f.command(0x90);
    EXPECT_EQ(f.read(0x000), want.manufacturerId);
    EXPECT_EQ(f.read(0x002), want.deviceId);
    // The codes sit at the same low address bits in every sector.
    EXPECT_EQ(f.read(0x210000), want.manufacturerId);
    EXPECT_EQ(f.read(0x210002), want.deviceId);
    EXPECT_EQ(f.read(0x004), 0x00);  // sector protection: unprotected
    EXPECT_EQ(f.read(0x001), 0x00);
    f.write(0x000, 0xF0);
    EXPECT_EQ(f.read(0x000), 0x5A);
    EXPECT_EQ(f.read(0x002), 0x5A);

    // The reset also comes after the unlock cycles.
    f.command(0x90);
    EXPECT_EQ(f.read(0x002), want.deviceId);
    f.command(0xF0);
    EXPECT_EQ(f.read(0x002), 0x5A);
    EXPECT_TRUE(f.chip.violations.empty());
  }
}

TEST(FlashChip, SectorLayoutsCoverTheChip) {
  for (int row = 0; row < kChipModelCount; ++row) {
    const ChipModel& chip = kChipModels[row];
    SCOPED_TRACE(chip.name);
    const int count = sectorCount(chip);
    EXPECT_EQ(count, chip.bottomBoot ? 71 : 64);
    std::uint32_t next = 0;
    for (int i = 0; i < count; ++i) {
      const Sector s = sectorAt(chip, i);
      const std::uint32_t expectedSize = chip.bottomBoot && i < 8 ? 0x2000u : 0x10000u;
      ASSERT_EQ(s.start, next) << "sector " << i;
      ASSERT_EQ(s.size, expectedSize) << "sector " << i;
      for (std::uint32_t inside : {s.start, s.start + s.size / 2, s.start + s.size - 1}) {
        const Sector of = sectorOf(chip, inside);
        ASSERT_EQ(of.start, s.start) << std::hex << inside;
        ASSERT_EQ(of.size, s.size) << std::hex << inside;
      }
      next += s.size;
    }
    EXPECT_EQ(next, kFlashSize);
  }
}

struct EraseCase {
  int row;
  std::uint32_t address;  // written with the 0x30
  std::uint32_t start;    // the sector that must be erased
  std::uint32_t size;
  std::uint64_t typicalUs;
};

TEST(FlashChip, SectorEraseShowsStatusUntilItsTimeThenErasesExactlyTheSector) {
  const EraseCase cases[] = {
      {0, 0x2123, 0x2000, 0x2000, timing::kFlashBootSectorEraseUs},      // bottom boot: 8 KB sector
      {5, 0xE000, 0xE000, 0x2000, timing::kFlashBootSectorEraseUs},      // the last boot sector
      {8, 0x10000, 0x10000, 0x10000, timing::kFlashMainSectorEraseUs},   // the first main sector
      {2, 0x8000, 0x0000, 0x10000, timing::kFlashMainSectorEraseUs},     // uniform: 64 KB from 0
      {1, 0x3FFFFF, 0x3F0000, 0x10000, timing::kFlashMainSectorEraseUs}, // the top sector
  };
  for (const EraseCase& c : cases) {
    SCOPED_TRACE(testing::Message() << kChipModels[c.row].name << " at 0x" << std::hex << c.address);
    FlashFixture f(c.row, 0x00);
    f.eraseSector(c.address);
    const std::uint64_t started = f.now;

    EXPECT_TRUE(flashBusy(f.chip, f.now));
    std::uint8_t previous = f.read(c.address);
    for (std::uint64_t t : {started, started + 1, started + c.typicalUs / 2, started + c.typicalUs - 1}) {
      f.now = t;
      const std::uint8_t status = f.read(c.address);
      EXPECT_NE(status, 0xFF);
      EXPECT_EQ(status & 0x80, 0);                      // DQ7: complement of erased data
      EXPECT_EQ((status ^ previous) & 0x40, 0x40);      // DQ6 toggles on every read
      EXPECT_EQ((status ^ previous) & 0x04, 0x04);      // DQ2 toggles inside the erased sector
      previous = status;
    }
    EXPECT_TRUE(flashBusy(f.chip, f.now));
    EXPECT_TRUE(std::all_of(f.cells.begin(), f.cells.end(), [](std::uint8_t b) { return b == 0x00; }));

    f.now = started + c.typicalUs;
    EXPECT_FALSE(flashBusy(f.chip, f.now));
    EXPECT_EQ(f.read(c.address), 0xFF);
    const auto first = f.cells.begin() + c.start;
    EXPECT_TRUE(std::all_of(first, first + c.size, [](std::uint8_t b) { return b == 0xFF; }));
    if (c.start > 0) {
      EXPECT_EQ(f.cells[c.start - 1], 0x00);
    }
    if (c.start + c.size < kFlashSize) {
      EXPECT_EQ(f.cells[c.start + c.size], 0x00);
    }
    EXPECT_EQ(std::count(f.cells.begin(), f.cells.end(), 0xFF), static_cast<std::ptrdiff_t>(c.size));
    EXPECT_TRUE(f.chip.violations.empty());
  }
}

TEST(FlashChip, ChipEraseTakesItsTimeAndErasesEverything) {
  FlashFixture f(3, 0x00);
  f.eraseChip();
  const std::uint64_t started = f.now;
  f.now = started + timing::kFlashChipEraseUs - 1;
  EXPECT_TRUE(flashBusy(f.chip, f.now));
  EXPECT_NE(f.read(0x123456), 0xFF);
  EXPECT_EQ(f.cells[0x123456], 0x00);

  // The erase completes without being read again once the cartridge is settled.
  f.now = started + timing::kFlashChipEraseUs;
  flashSettle(f.chip, f.now);
  EXPECT_TRUE(std::all_of(f.cells.begin(), f.cells.end(), [](std::uint8_t b) { return b == 0xFF; }));
  EXPECT_EQ(f.read(0), 0xFF);
}

TEST(FlashChip, ProgrammingOnlyClearsBits) {
  struct Case {
    std::uint8_t old;
    std::uint8_t data;
    std::uint8_t result;
  };
  const Case cases[] = {
      {0xFF, 0x12, 0x12},  // erased cell takes the data
      {0xF0, 0x0F, 0x00},  // ones cannot come back
      {0x00, 0xA5, 0x00},  // a missing erase shows
      {0x5A, 0xFF, 0x5A},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << int{c.old} << " <- " << int{c.data});
    FlashFixture f(2, c.old);
    f.program(0x12345, c.data);
    EXPECT_TRUE(flashBusy(f.chip, f.now));
    const std::uint8_t s1 = f.read(0x12345);
    const std::uint8_t s2 = f.read(0x12345);
    EXPECT_EQ(s1 & 0x80, ~c.data & 0x80);  // DQ7: complement of the data's bit 7
    EXPECT_EQ((s1 ^ s2) & 0x40, 0x40);     // DQ6 toggles
    f.now += timing::kFlashByteProgramUs;
    EXPECT_FALSE(flashBusy(f.chip, f.now));
    EXPECT_EQ(f.read(0x12345), c.result);
    EXPECT_EQ(f.read(0x12344), c.old);
  }
}

TEST(FlashChip, BrokenSequenceReturnsToReadingAndIsRecorded) {
  struct Cycle {
    std::uint32_t offset;
    std::uint8_t data;
  };
  struct Case {
    const char* name;
    std::vector<Cycle> cycles;
  };
  const Case cases[] = {
      {"second unlock at the wrong address", {{0xAAA, 0xAA}, {0x554, 0x55}}},
      {"second unlock with the wrong data", {{0xAAA, 0xAA}, {0x555, 0x54}}},
      {"unknown command", {{0xAAA, 0xAA}, {0x555, 0x55}, {0xAAA, 0x77}}},
      {"command at the wrong address", {{0xAAA, 0xAA}, {0x555, 0x55}, {0xAAB, 0xA0}}},
      {"erase without the second unlock", {{0xAAA, 0xAA}, {0x555, 0x55}, {0xAAA, 0x80}, {0x10000, 0x30}}},
      {"erase with an unknown last byte",
       {{0xAAA, 0xAA}, {0x555, 0x55}, {0xAAA, 0x80}, {0xAAA, 0xAA}, {0x555, 0x55}, {0x10000, 0x20}}},
      {"chip erase away from 0xAAA",
       {{0xAAA, 0xAA}, {0x555, 0x55}, {0xAAA, 0x80}, {0xAAA, 0xAA}, {0x555, 0x55}, {0x10000, 0x10}}},
      {"program without leaving autoselect",
       {{0xAAA, 0xAA}, {0x555, 0x55}, {0xAAA, 0x90}, {0xAAA, 0xAA}, {0x555, 0x55}, {0xAAA, 0xA0}}},
      {"data written without a command", {{0x1234, 0x12}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FlashFixture f(0, 0xFF);
    f.cells[0x1234] = 0x77;
    for (const Cycle& cycle : c.cycles) f.write(cycle.offset, cycle.data);
    ASSERT_EQ(f.chip.violations.size(), 1u);
    EXPECT_EQ(f.chip.violationCount, 1u);
    EXPECT_EQ(f.chip.violations[0].rfind("flash: ", 0), 0u) << f.chip.violations[0];
    EXPECT_FALSE(flashBusy(f.chip, f.now));
    EXPECT_EQ(f.read(0x1234), 0x77);  // array data, not ids or status
    EXPECT_EQ(f.read(0x0000), 0xFF);
    EXPECT_TRUE(std::all_of(f.cells.begin() + 0x1235, f.cells.end(), [](std::uint8_t b) { return b == 0xFF; }));
    // The next sequence starts afresh.
    f.program(0x40, 0x3C);
    f.now += timing::kFlashByteProgramUs;
    EXPECT_EQ(f.read(0x40), 0x3C);
    EXPECT_EQ(f.chip.violations.size(), 1u);
  }
}

TEST(FlashChip, ResetInTheMiddleOfASequenceIsNoViolation) {
  FlashFixture f(6, 0xFF);
  f.write(0xAAA, 0xAA);
  f.write(0x000, 0xF0);
  f.unlock();
  f.write(0x8000, 0xF0);
  f.command(0x80);
  f.write(0x000, 0xF0);
  EXPECT_TRUE(f.chip.violations.empty());
  f.program(0x10, 0x00);
  f.now += timing::kFlashByteProgramUs;
  EXPECT_EQ(f.read(0x10), 0x00);
}

TEST(FlashChip, WritesDuringAnEraseAreIgnoredAndRecorded) {
  FlashFixture f(2, 0x00);
  f.eraseSector(0x20000);
  const std::uint64_t started = f.now;
  f.now += 1'000;
  f.write(0x20000, 0xF0);  // reset: ignored while the erase runs
  f.program(0x20010, 0x00);
  EXPECT_EQ(f.chip.violationCount, 5u);
  EXPECT_NE(f.read(0x20010), 0xFF);
  f.now = started + timing::kFlashMainSectorEraseUs;
  EXPECT_EQ(f.read(0x20010), 0xFF);  // neither the reset nor the program took
  EXPECT_EQ(f.read(0x1FFFF), 0x00);
}

TEST(FlashChip, EraseThatNeverCompletesKeepsToggling) {
  FlashFixture f(0, 0x00);
  f.chip.eraseNeverCompletes = true;
  f.eraseSector(0x4000);
  EXPECT_EQ(f.chip.faultsFired, 1u);
  f.now += 1'000'000'000;  // far beyond any time limit
  EXPECT_TRUE(flashBusy(f.chip, f.now));
  const std::uint8_t a = f.read(0x4000);
  const std::uint8_t b = f.read(0x4000);
  EXPECT_NE(a, 0xFF);
  EXPECT_NE(b, 0xFF);
  EXPECT_NE(a, b);
  flashSettle(f.chip, f.now);
  EXPECT_EQ(f.cells[0x4000], 0x00);

  // Switching the slot off ends it; the sector is as it was.
  resetFlashChip(f.chip);
  EXPECT_FALSE(flashBusy(f.chip, f.now));
  EXPECT_EQ(f.read(0x4000), 0x00);
  EXPECT_TRUE(f.chip.eraseNeverCompletes);
}

TEST(FlashChip, LateEraseCompletesAfterTheExtraTime) {
  for (bool chipErase : {false, true}) {
    SCOPED_TRACE(chipErase ? "chip erase" : "sector erase");
    FlashFixture f(4, 0x00);
    f.chip.eraseExtraUs = 3'000'000;
    if (chipErase) {
      f.eraseChip();
    } else {
      f.eraseSector(0x30000);
    }
    const std::uint64_t typical = chipErase ? timing::kFlashChipEraseUs : timing::kFlashMainSectorEraseUs;
    const std::uint64_t started = f.now;
    EXPECT_EQ(f.chip.faultsFired, 1u);
    f.now = started + typical;
    EXPECT_NE(f.read(0x30000), 0xFF);
    f.now = started + typical + f.chip.eraseExtraUs - 1;
    EXPECT_NE(f.read(0x30000), 0xFF);
    f.now += 1;
    EXPECT_EQ(f.read(0x30000), 0xFF);
  }
}

TEST(FlashChip, FirmwareBlockProgramming) {
  const FlashCycle sequence[3] = {{0xAAA, 0xAA}, {0x555, 0x55}, {0xAAA, 0xA0}};
  std::vector<std::uint8_t> block(1024);
  for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<std::uint8_t>(i * 7 + 3);

  {
    SCOPED_TRACE("erased block");
    FlashFixture f(5, 0xFF);
    std::uint64_t now = f.now;
    EXPECT_EQ(flashProgramBytes(f.chip, sequence, 3, 0x8000, block.data(), 1024, now), 1024u);
    EXPECT_EQ(now, f.now + 1024 * timing::kFlashByteProgramUs);
    EXPECT_EQ(std::memcmp(&f.cells[0x8000], block.data(), block.size()), 0);
    EXPECT_EQ(f.cells[0x7FFF], 0xFF);
    EXPECT_EQ(f.cells[0x8400], 0xFF);
    EXPECT_TRUE(f.chip.violations.empty());
  }
  {
    SCOPED_TRACE("a byte that was not erased");
    FlashFixture f(5, 0xFF);
    f.cells[0x8000 + 100] = 0x00;
    std::uint64_t now = f.now;
    EXPECT_EQ(flashProgramBytes(f.chip, sequence, 3, 0x8000, block.data(), 1024, now), 100u);
  }
  {
    SCOPED_TRACE("a wrong command sequence");
    FlashFixture f(5, 0xFF);
    const FlashCycle wrong[3] = {{0xAAA, 0xAA}, {0x554, 0x55}, {0xAAA, 0xA0}};
    std::uint64_t now = f.now;
    EXPECT_EQ(flashProgramBytes(f.chip, wrong, 3, 0x8000, block.data(), 1024, now), 0u);
    EXPECT_FALSE(f.chip.violations.empty());
  }
  {
    SCOPED_TRACE("chip left in autoselect mode");
    FlashFixture f(5, 0xFF);
    f.command(0x90);
    std::uint64_t now = f.now;
    EXPECT_EQ(flashProgramBytes(f.chip, sequence, 3, 0x8000, block.data(), 1024, now), 0u);
    EXPECT_EQ(f.cells[0x8000], 0xFF);
    EXPECT_FALSE(f.chip.violations.empty());
  }
  {
    SCOPED_TRACE("an erase still running");
    FlashFixture f(5, 0xFF);
    f.eraseSector(0x8000);
    std::uint64_t now = f.now + 10;
    EXPECT_EQ(flashProgramBytes(f.chip, sequence, 3, 0x8000, block.data(), 1024, now), 0u);
    EXPECT_EQ(now, f.now + 10);  // the firmware does not wait out the erase
  }
}

TEST(FlashChip, ViolationListIsBounded) {
  FlashFixture f(0, 0xFF);
  for (int i = 0; i < 1000; ++i) f.write(0x100, 0x00);
  EXPECT_EQ(f.chip.violations.size(), kFlashViolationsKept);
  EXPECT_EQ(f.chip.violationCount, 1000u);
}

}  // namespace
}  // namespace vprog
