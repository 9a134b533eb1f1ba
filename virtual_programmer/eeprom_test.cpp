#include "virtual_programmer/eeprom.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "virtual_programmer/timing.h"

namespace vprog {
namespace {

// The host's side of the lines: every line command and every status sample
// is one exchange with the board that takes kExchangeUs of virtual time.
// Line commands are named by the high address byte the host puts on the bus:
// bit 6 DI, bit 5 CS, bit 4 SK.
struct Host {
  static constexpr std::uint64_t kExchangeUs = 100;
  static constexpr int kPollLimit = 200;

  Eeprom93C46& chip;
  std::uint64_t now = 0;
  int lastPolls = 0;

  void line(std::uint8_t high) {
    eepromSetPins(chip, (high & 0x20) != 0, (high & 0x10) != 0, (high & 0x40) != 0, now);
    now += kExchangeUs;
  }
  bool status() {
    const bool level = eepromDataOut(chip, now);
    now += kExchangeUs;
    return level;
  }
  void bit(bool one) {
    line(one ? 0xE0 : 0xA0);
    line(one ? 0xF0 : 0xB0);
  }
  void bits(unsigned value, int count) {
    for (int i = count - 1; i >= 0; --i) bit(((value >> i) & 1) != 0);
  }
  void deselect() { line(0x80); }

  void ewen() {
    bits(0b10011, 5);
    bits(0, 5);
    deselect();
  }
  void ewds() {
    bits(0b10000, 5);
    bits(0, 5);
    deselect();
  }
  void erase(unsigned address) {
    bits(0b111, 3);
    bits(address, 7);
  }
  void write(unsigned address, std::uint8_t data) {
    bits(0b101, 3);
    bits(address, 7);
    bits(data, 8);
  }
  void eraseAll() {
    bits(0b10010, 5);
    bits(0, 5);
  }
  void writeAll(std::uint8_t data) {
    bits(0b10001, 5);
    bits(0, 5);
    bits(data, 8);
  }
  // Deselect to start the cycle, select to see ready/busy, poll with at most
  // 199 samples; false when ready never came.
  bool readyWait() {
    line(0x80);
    line(0xA0);
    for (lastPolls = 1; lastPolls < kPollLimit; ++lastPolls) {
      if (status()) {
        line(0x80);
        return true;
      }
    }
    return false;
  }
  // One READ, then eight clock pulses with a sample after each per byte.
  std::vector<std::uint8_t> read(unsigned address, int count) {
    bits(0b110, 3);
    bits(address, 7);
    std::vector<std::uint8_t> out;
    for (int n = 0; n < count; ++n) {
      unsigned byte = 0;
      for (int i = 0; i < 8; ++i) {
        line(0xA0);
        line(0xB0);
        byte = (byte << 1) | (status() ? 1u : 0u);
      }
      out.push_back(static_cast<std::uint8_t>(byte));
    }
    deselect();
    return out;
  }
  // The settings update: EWEN, erase every address below count, write the
  // bytes that are not 0xFF, closing command.
  bool update(const std::uint8_t* buffer, unsigned count) {
    count = std::min(count, 128u);
    ewen();
    for (unsigned a = 0; a < count; ++a) {
      erase(a);
      if (!readyWait()) return false;
    }
    for (unsigned a = 0; a < count; ++a) {
      if (buffer[a] == 0xFF) continue;
      write(a, buffer[a]);
      if (!readyWait()) return false;
    }
    line(0x88);
    for (int i = 0; i < 8; ++i) status();
    return true;
  }
};

struct EepromFixture {
  std::vector<std::uint8_t> cells;
  Eeprom93C46 chip;
  Host host{chip};

  explicit EepromFixture(std::uint8_t fill = 0x00) : cells(kEepromSize, fill) { attachEeprom(chip, cells); }
  void pattern() {
    for (std::size_t i = 0; i < cells.size(); ++i) cells[i] = static_cast<std::uint8_t>(i * 37 + 11);
  }
};

TEST(Eeprom, UpdateThenReadBackSequentially) {
  std::vector<std::uint8_t> record(128, 0xFF);
  record[0] = 0x70;
  const char name[] = "/super.game";
  std::memcpy(&record[1], name, sizeof name);
  std::vector<std::uint8_t> withHole = record;
  withHole[4] = 0xFF;  // a 0xFF inside the name is erased, not written

  struct Case {
    const char* name;
    std::vector<std::uint8_t> buffer;
    unsigned count;
  };
  const Case cases[] = {
      {"one byte", {0x00}, 1},
      {"whole record", record, 128},
      {"0xFF inside", withHole, 128},
      {"count above 128", record, 300},
      {"nothing", {}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EepromFixture f;
    f.pattern();
    std::vector<std::uint8_t> expected = f.cells;
    const unsigned n = std::min(c.count, 128u);
    std::copy(c.buffer.begin(), c.buffer.begin() + n, expected.begin());

    ASSERT_TRUE(f.host.update(c.buffer.data(), c.count));
    EXPECT_EQ(f.cells, expected);
    EXPECT_EQ(f.host.read(0, 128), expected);
    EXPECT_TRUE(f.chip.violations.empty()) << f.chip.violations.front();
  }
}

TEST(Eeprom, ReadStartsAtItsAddressAndWrapsAround) {
  EepromFixture f;
  f.pattern();
  const std::vector<std::uint8_t> expected = {f.cells[126], f.cells[127], f.cells[0], f.cells[1]};
  EXPECT_EQ(f.host.read(126, 4), expected);
}

TEST(Eeprom, ReadPutsTheDummyZeroBeforeTheFirstBit) {
  EepromFixture f(0xFF);
  f.host.bits(0b110, 3);
  f.host.bits(5, 7);
  EXPECT_FALSE(eepromDataOut(f.chip, f.host.now));  // dummy 0, although every data bit is 1
  f.host.line(0xA0);
  f.host.line(0xB0);
  EXPECT_TRUE(eepromDataOut(f.chip, f.host.now));
}

TEST(Eeprom, ErasesAndWritesAreRefusedUntilEnabled) {
  struct Case {
    const char* name;
    void (*send)(Host&);
  };
  const Case cases[] = {
      {"ERASE", [](Host& h) { h.erase(9); }},
      {"WRITE", [](Host& h) { h.write(9, 0x00); }},
      {"ERAL", [](Host& h) { h.eraseAll(); }},
      {"WRAL", [](Host& h) { h.writeAll(0x00); }},
  };
  for (const Case& c : cases) {
    for (bool disabledAgain : {false, true}) {
      SCOPED_TRACE(testing::Message() << c.name << (disabledAgain ? " after EWEN, EWDS" : " after power-up"));
      EepromFixture f;
      f.pattern();
      const std::vector<std::uint8_t> before = f.cells;
      if (disabledAgain) {
        f.host.ewen();
        f.host.ewds();
      }
      c.send(f.host);
      // No cycle starts, so nothing ever drives ready.
      EXPECT_FALSE(f.host.readyWait());
      EXPECT_EQ(f.cells, before);
      ASSERT_EQ(f.chip.violations.size(), 1u);
      EXPECT_NE(f.chip.violations[0].find("not enabled"), std::string::npos) << f.chip.violations[0];
    }
  }
}

TEST(Eeprom, EnableLastsUntilDisabledOrPowerCycled) {
  EepromFixture f(0x00);
  f.host.ewen();
  f.host.write(1, 0x11);
  ASSERT_TRUE(f.host.readyWait());
  f.host.write(2, 0x22);
  ASSERT_TRUE(f.host.readyWait());
  EXPECT_EQ(f.cells[1], 0x11);
  EXPECT_EQ(f.cells[2], 0x22);

  resetEeprom(f.chip);
  f.host.write(3, 0x33);
  EXPECT_FALSE(f.host.readyWait());
  EXPECT_EQ(f.cells[3], 0x00);
}

TEST(Eeprom, BusyUntilTheWriteCycleTimeThenReady) {
  EepromFixture f(0x00);
  f.host.ewen();
  f.host.write(7, 0x5A);
  const std::uint64_t fall = f.host.now;
  f.host.line(0x80);  // the cycle starts here
  f.host.line(0xA0);
  EXPECT_FALSE(eepromDataOut(f.chip, fall + timing::kEepromWriteCycleUs - 1));
  EXPECT_TRUE(eepromDataOut(f.chip, fall + timing::kEepromWriteCycleUs));

  // Deselected, data out is not driven, ready or not.
  f.host.now = fall + timing::kEepromWriteCycleUs + 1;
  f.host.line(0x80);
  EXPECT_EQ(eepromDataOut(f.chip, f.host.now), kEepromDataOutUndriven);
  // Selected again, ready shows until the next start bit.
  f.host.line(0xA0);
  EXPECT_TRUE(eepromDataOut(f.chip, f.host.now));
  EXPECT_EQ(f.host.read(7, 1), std::vector<std::uint8_t>{0x5A});
  f.host.line(0xA0);
  EXPECT_EQ(eepromDataOut(f.chip, f.host.now), kEepromDataOutUndriven);
  EXPECT_TRUE(f.chip.violations.empty());
}

TEST(Eeprom, HostSeesBusyForSeveralPolls) {
  EepromFixture f(0x00);
  f.host.ewen();
  f.host.erase(0);
  ASSERT_TRUE(f.host.readyWait());
  const int expected = static_cast<int>(timing::kEepromWriteCycleUs / Host::kExchangeUs);
  EXPECT_GE(f.host.lastPolls, expected - 1);
  EXPECT_LE(f.host.lastPolls, expected + 1);
}

TEST(Eeprom, InstructionDuringTheCycleIsIgnored) {
  EepromFixture f(0x00);
  f.host.ewen();
  f.host.write(4, 0x44);
  f.host.line(0x80);
  f.host.write(5, 0x55);  // still busy
  f.host.line(0x80);
  f.host.now += timing::kEepromWriteCycleUs;
  EXPECT_EQ(f.cells[4], 0x44);
  EXPECT_EQ(f.cells[5], 0x00);
  ASSERT_EQ(f.chip.violations.size(), 1u);
  EXPECT_NE(f.chip.violations[0].find("before the self-timed cycle ended"), std::string::npos);
}

TEST(Eeprom, EraseAllAndWriteAll) {
  EepromFixture f;
  f.pattern();
  f.host.ewen();
  f.host.eraseAll();
  ASSERT_TRUE(f.host.readyWait());
  EXPECT_TRUE(std::all_of(f.cells.begin(), f.cells.end(), [](std::uint8_t b) { return b == 0xFF; }));
  f.host.writeAll(0x3C);
  ASSERT_TRUE(f.host.readyWait());
  EXPECT_TRUE(std::all_of(f.cells.begin(), f.cells.end(), [](std::uint8_t b) { return b == 0x3C; }));
}

TEST(Eeprom, InstructionCutShortChangesNothing) {
  EepromFixture f(0x00);
  f.host.ewen();
  f.host.bits(0b101, 3);
  f.host.bits(6, 7);
  f.host.bits(0x5, 4);  // half the data byte
  f.host.deselect();
  EXPECT_EQ(f.cells[6], 0x00);
  ASSERT_EQ(f.chip.violations.size(), 1u);
  EXPECT_NE(f.chip.violations[0].find("after 14 bits"), std::string::npos) << f.chip.violations[0];
  f.host.write(6, 0x66);
  ASSERT_TRUE(f.host.readyWait());
  EXPECT_EQ(f.cells[6], 0x66);
}

TEST(Eeprom, MissingChipReadsZeroAndNeverReportsReady) {
  for (bool notFitted : {false, true}) {
    SCOPED_TRACE(notFitted ? "not fitted" : "absent fault");
    std::vector<std::uint8_t> cells(notFitted ? 0 : kEepromSize, 0x5A);
    Eeprom93C46 chip;
    attachEeprom(chip, cells);
    chip.absent = !notFitted;
    Host host{chip};

    EXPECT_EQ(host.read(0, 128), std::vector<std::uint8_t>(128, 0x00));
    const std::uint8_t record[2] = {0x10, 'a'};
    EXPECT_FALSE(host.update(record, 2));
    EXPECT_EQ(host.lastPolls, Host::kPollLimit);
    EXPECT_EQ(cells, std::vector<std::uint8_t>(notFitted ? 0 : kEepromSize, 0x5A));
    EXPECT_EQ(chip.faultsFired, 3u);  // READ, EWEN, ERASE
  }
}

TEST(Eeprom, StuckBusyChipFailsTheFirstErase) {
  EepromFixture f;
  f.pattern();
  const std::vector<std::uint8_t> before = f.cells;
  f.chip.staysBusy = true;
  const std::uint8_t record[3] = {0x00, 'x', 0x00};
  EXPECT_FALSE(f.host.update(record, 3));
  EXPECT_EQ(f.cells, before);
  EXPECT_EQ(f.chip.faultsFired, 1u);
  f.host.now += 10'000'000;
  f.host.line(0xA0);
  EXPECT_FALSE(eepromDataOut(f.chip, f.host.now));

  // The flash tool gives up on the update and goes on to display the record:
  // the stuck chip takes no instruction, which is the fault at work and no
  // misuse by the host.
  EXPECT_EQ(f.host.read(0, 128), std::vector<std::uint8_t>(128, 0x00));
  EXPECT_EQ(f.cells, before);
  EXPECT_TRUE(f.chip.violations.empty()) << f.chip.violations.front();
  EXPECT_EQ(f.chip.faultsFired, 2u);
}

}  // namespace
}  // namespace vprog
