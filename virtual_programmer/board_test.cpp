#include "virtual_programmer/board.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "cartlink/cartlink.h"
#include "cartlink/protocol.h"
#include "virtual_programmer/timing.h"

namespace vprog {
namespace {

using cartlink::ByteStream;

constexpr std::uint32_t kKb = 1024;
constexpr std::uint32_t kMb = 0x100000;
constexpr int kSpansion22 = 5;  // 01 56, bottom boot

// Bytes that differ from block to block anywhere in 8 MB, so that a block
// read from the wrong place shows. Every bit of the offset goes into every
// byte: a plain multiplicative hash would repeat every 2 MB and hide a
// mapping that is off by a multiple of that.
std::uint8_t patternAt(std::uint32_t offset) {
  std::uint32_t h = offset * 2654435761u;
  h ^= h >> 15;
  h *= 0x85EBCA77u;
  h ^= h >> 13;
  return static_cast<std::uint8_t>(h);
}

// Salts stay below 64 KB; the pattern is made once, since the tests make
// many cartridges.
std::vector<std::uint8_t> patterned(std::uint32_t size, std::uint32_t salt = 0) {
  static const std::vector<std::uint8_t> pattern = [] {
    std::vector<std::uint8_t> bytes(8 * 0x100000 + 0x10000);
    for (std::uint32_t i = 0; i < bytes.size(); ++i) bytes[i] = patternAt(i);
    return bytes;
  }();
  return {pattern.begin() + salt, pattern.begin() + salt + size};
}

VirtualCart flashCart(std::uint32_t sramSize = 32 * kKb) {
  VirtualCart cart;
  cart.kind = CartKind::Flash;
  cart.chipRow = kSpansion22;
  cart.flash = patterned(0x400000);
  cart.eeprom.assign(kEepromSize, 0xFF);
  cart.sram = patterned(sramSize, 77);
  return cart;
}

VirtualCart gameCart(MapMode mode, std::uint32_t romSize, std::uint32_t sramSize = 0) {
  VirtualCart cart;
  cart.kind = CartKind::Game;
  cart.mapMode = mode;
  cart.rom = patterned(romSize, 5);
  cart.sram = patterned(sramSize, 99);
  return cart;
}

// A cartridge in the board, reached through the programs' own link.
struct Rig {
  VirtualCart cart;
  Board board;
  platform::Driver driver{};
  platform::Clock clock{};
  cartlink::DeviceLink link;

  explicit Rig(VirtualCart c) : cart(std::move(c)) {
    attachBoard(board, cart);
    driver = boardDriver(board);
    clock = boardClock(board);
    link = cartlink::makeDeviceLink(driver, clock);
  }
  Rig(const Rig&) = delete;
  Rig& operator=(const Rig&) = delete;

  // Opens the device and switches the slot on as both programs do.
  void start() {
    ASSERT_TRUE(cartlink::open(link, cartlink::kDeviceDescription));
    cartlink::powerOn(link);
  }
  void feed(const ByteStream& bytes) { boardAccept(board, bytes.data(), bytes.size()); }
  std::vector<std::uint8_t> replies() {
    std::vector<std::uint8_t> out(boardPendingReplies(board));
    boardTakeReplies(board, out.data(), out.size());
    return out;
  }
  std::vector<std::uint8_t> block(std::uint32_t address) {
    std::vector<std::uint8_t> out(kKb);
    cartlink::readBlock(link, address, out.data());
    return out;
  }
};

std::string violationsText(const VirtualCart& cart) {
  std::string text;
  for (const std::string& v : cart.violations) text += v + "\n";
  return text;
}

std::vector<std::uint8_t> slice(const std::vector<std::uint8_t>& bytes, std::uint32_t at,
                                std::uint32_t count = kKb) {
  return {bytes.begin() + at, bytes.begin() + at + count};
}

ByteStream operator+(ByteStream a, const ByteStream& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

ByteStream controlStream(std::uint8_t value) {
  ByteStream s;
  cartlink::appendControl(s, value);
  return s;
}
ByteStream powerStream(std::uint8_t value) {
  ByteStream s;
  cartlink::appendPower(s, value);
  return s;
}
ByteStream readBlockStream(std::uint32_t address) {
  ByteStream s;
  cartlink::appendReadBlock(s, address);
  return s;
}
ByteStream readByteStream(std::uint32_t address) {
  ByteStream s;
  cartlink::appendReadByte(s, address);
  return s;
}
ByteStream writeByteStream(std::uint32_t address, std::uint8_t value) {
  ByteStream s;
  cartlink::appendWriteByte(s, address, value);
  return s;
}
ByteStream blockStream(std::uint8_t command, std::uint32_t address, const std::vector<std::uint8_t>& data) {
  ByteStream s;
  cartlink::appendBlockHead(s, command, address);
  s.insert(s.end(), data.begin(), data.end());
  return s;
}
ByteStream statusStream() { return {cartlink::CMD_STATUS}; }

const ByteStream kProgramSequence = {0x47, 0xAA, 0x8A, 0x00, 0xAA, 0x55, 0x85, 0x00, 0x55, 0xAA, 0x8A, 0x00, 0xA0};

// ---- the command stream ---------------------------------------------------

struct StreamCase {
  const char* name;
  bool flash;
  ByteStream stream;
};

TEST(BoardParser, CommandsCutAtAnyByteGiveTheSameRepliesAndState) {
  const std::vector<std::uint8_t> data = patterned(kKb, 1234);
  std::vector<std::uint8_t> zeros(kKb, 0x00);
  const StreamCase cases[] = {
      {"reads and status", false,
       powerStream(1) + controlStream(1) + readBlockStream(0x008000) + readByteStream(0x00FFB0) +
           statusStream()},
      {"save RAM write and read back", false,
       powerStream(1) + controlStream(1) + blockStream(cartlink::CMD_WRITE_BLOCK, 0x700000, data) +
           readBlockStream(0x700000) + controlStream(0)},
      {"zeros between commands", false,
       ByteStream{0, 0} + powerStream(1) + ByteStream{0} + controlStream(1) + ByteStream{0, 0, 0} +
           readByteStream(0x008000) + ByteStream{0}},
      {"flash block with its sequence", true,
       powerStream(1) + kProgramSequence + blockStream(cartlink::CMD_FLASH_BLOCK, 0x018000, zeros) +
           controlStream(0) + statusStream()},
  };
  for (const StreamCase& c : cases) {
    auto make = [&] {
      return std::make_unique<Rig>(c.flash ? flashCart() : gameCart(MapMode::LoRom, 256 * kKb, 8 * kKb));
    };
    auto whole = make();
    whole->feed(c.stream);
    const std::vector<std::uint8_t> expected = whole->replies();
    ASSERT_FALSE(expected.empty()) << c.name;
    EXPECT_TRUE(whole->cart.violations.empty()) << c.name << "\n" << violationsText(whole->cart);

    // One cartridge serves every cut: what a run may change is put back and
    // the board starts afresh.
    auto split = make();
    const std::vector<std::uint8_t> sram = split->cart.sram;
    const std::vector<std::uint8_t> flashBlock =
        c.flash ? slice(split->cart.flash, 0x8000) : std::vector<std::uint8_t>{};
    for (std::size_t cut = 0; cut <= c.stream.size(); ++cut) {
      split->cart.sram = sram;
      if (c.flash) std::copy(flashBlock.begin(), flashBlock.end(), split->cart.flash.begin() + 0x8000);
      split->cart.violations.clear();
      attachBoard(split->board, split->cart);
      boardAccept(split->board, c.stream.data(), cut);
      boardAccept(split->board, c.stream.data() + cut, c.stream.size() - cut);
      ASSERT_EQ(split->replies(), expected) << c.name << ", cut after " << cut;
      ASSERT_EQ(split->cart.sram, whole->cart.sram) << c.name << ", cut after " << cut;
      ASSERT_EQ(split->cart.violations, whole->cart.violations) << c.name << ", cut after " << cut;
      if (c.flash) {
        ASSERT_TRUE(std::equal(split->cart.flash.begin() + 0x8000, split->cart.flash.begin() + 0x8400,
                               whole->cart.flash.begin() + 0x8000))
            << c.name << ", cut after " << cut;
      }
    }
  }
}

TEST(BoardParser, RepliesComeInCommandOrderAcrossWrites) {
  Rig rig(gameCart(MapMode::LoRom, 256 * kKb));
  rig.feed(powerStream(1) + controlStream(1));
  rig.feed(readByteStream(0x008003) + readBlockStream(0x018000));
  rig.feed(readByteStream(0x008001));
  std::vector<std::uint8_t> expected = {rig.cart.rom[3]};
  const std::vector<std::uint8_t> block = slice(rig.cart.rom, 0x8000);
  expected.insert(expected.end(), block.begin(), block.end());
  expected.push_back(rig.cart.rom[1]);
  EXPECT_EQ(rig.replies(), expected);
}

TEST(BoardParser, UnknownCommandByteIsRecordedAndSkipped) {
  Rig rig(gameCart(MapMode::LoRom, 64 * kKb));
  rig.feed(ByteStream{0x58} + powerStream(1) + controlStream(1) + readByteStream(0x008002));
  EXPECT_EQ(rig.replies(), std::vector<std::uint8_t>{rig.cart.rom[2]});
  ASSERT_EQ(rig.cart.violations.size(), 1u);
  EXPECT_NE(rig.cart.violations[0].find("unknown command byte 0x58"), std::string::npos);
}

TEST(BoardParser, PowerOffOnlyRunIsLegal) {
  Rig rig(flashCart());
  ASSERT_TRUE(cartlink::open(rig.link, cartlink::kDeviceDescription));
  cartlink::forcePowerOff(rig.link);
  EXPECT_TRUE(rig.cart.violations.empty()) << violationsText(rig.cart);
  EXPECT_FALSE(rig.board.slotPowered);
}

TEST(BoardParser, ZerosCompleteAHalfCommandAndBringTheBoardBackToACommandBoundary) {
  Rig rig(gameCart(MapMode::LoRom, 64 * kKb));
  rig.feed(powerStream(1) + controlStream(1) + ByteStream{cartlink::CMD_WRITE_BYTE, 0x00});
  rig.feed(ByteStream(1024, 0x00));
  rig.feed(readByteStream(0x008005));
  EXPECT_EQ(rig.replies(), std::vector<std::uint8_t>{rig.cart.rom[5]});
}

TEST(BoardParser, ViolationListKeepsTheFirstOnesAndCountsTheRest) {
  Rig rig(gameCart(MapMode::LoRom, 64 * kKb));
  rig.feed(ByteStream(kViolationsKept + 50, 0xEE));
  ASSERT_EQ(rig.cart.violations.size(), kViolationsKept + 1);
  EXPECT_EQ(rig.cart.violations.back(), "... and 50 more violations");
}

// ---- what is legal --------------------------------------------------------

struct LegalCase {
  const char* name;
  ByteStream stream;  // sent after the slot is powered
  bool legal;
};

TEST(BoardViolations, LegalAccessesAndViolationsByControlValue) {
  const std::vector<std::uint8_t> data(kKb, 0x00);
  const ByteStream c0 = controlStream(0);
  const ByteStream c1 = controlStream(1);
  const ByteStream c2 = controlStream(2);
  const LegalCase cases[] = {
      {"ROM read under 0x01", c1 + readBlockStream(0x008000), true},
      {"detection reads in bank 40 under 0x01", c1 + readBlockStream(0x407C00) + readBlockStream(0x40FC00) +
                                                    readBlockStream(0x400000), true},
      {"HiROM ROM read under 0x01", c1 + readBlockStream(0xC00000), true},
      {"id read under 0x01", c1 + readByteStream(0x008002), true},
      {"flash cycle under 0x01", c1 + writeByteStream(0x008AAA, 0xF0), true},
      {"LoROM save RAM under 0x01", c1 + readBlockStream(0x700000) +
                                        blockStream(cartlink::CMD_WRITE_BLOCK, 0x707C00, data), true},
      {"HiROM save RAM under 0x00", c0 + readBlockStream(0x306000) +
                                        blockStream(cartlink::CMD_WRITE_BLOCK, 0x307C00, data), true},
      {"HiROM save RAM under 0x02", c2 + readBlockStream(0x316000), true},
      {"EEPROM lines under 0x00", c0 + writeByteStream(0x008000, 0) + writeByteStream(0x008800, 0) +
                                      writeByteStream(0x00A000, 0) + writeByteStream(0x00B000, 0) +
                                      writeByteStream(0x00E000, 0) + writeByteStream(0x00F000, 0) +
                                      statusStream(), true},
      {"flash block under 0x00 drives its own select",
       c0 + kProgramSequence + blockStream(cartlink::CMD_FLASH_BLOCK, 0x008000, data), true},
      {"power off under 0x00", c0 + powerStream(0), true},
      {"ROM read under 0x00", c0 + readBlockStream(0x008000), false},
      {"id read under 0x00", c0 + readByteStream(0x008000), false},
      {"LoROM save RAM under 0x00", c0 + readBlockStream(0x700000), false},
      {"bank 40 under 0x02", c2 + readByteStream(0x400000), false},
      {"HiROM save RAM under 0x01", c1 + readBlockStream(0x306000), false},
      {"HiROM save RAM write under 0x01", c1 + blockStream(cartlink::CMD_WRITE_BLOCK, 0x306000, data), false},
      {"line write at an unused line state", c0 + writeByteStream(0x009000, 0), false},
      {"line write outside bank 00", c0 + writeByteStream(0x018000, 0), false},
      {"block write into the ROM area under 0x00", c0 + blockStream(cartlink::CMD_WRITE_BLOCK, 0x008000, data),
       false},
      {"flash block before a program sequence", c0 + blockStream(cartlink::CMD_FLASH_BLOCK, 0x008000, data),
       false},
      {"control value 0x05", controlStream(5), false},
      {"bus access with the slot off", c1 + powerStream(0) + readByteStream(0x008000), false},
      {"flash cycles out of order", c1 + writeByteStream(0x008555, 0x55), false},
  };
  for (const LegalCase& c : cases) {
    Rig rig(flashCart());
    rig.feed(powerStream(1));
    rig.feed(c.stream);
    EXPECT_EQ(rig.cart.violations.empty() && rig.board.chip.violationCount == 0, c.legal)
        << c.name << "\n" << violationsText(rig.cart);
  }
}

TEST(BoardViolations, ChipViolationsReachTheCartridgeRecordThroughTheDriver) {
  Rig rig(flashCart());
  rig.start();
  cartlink::setControl(rig.link, 1);
  cartlink::writeByte(rig.link, 0x008555, 0x55);
  ASSERT_EQ(rig.cart.violations.size(), 1u);
  EXPECT_EQ(rig.cart.violations[0].rfind("flash", 0), 0u) << rig.cart.violations[0];
}

TEST(BoardSlot, SlotOffReadsOpenBusAndPowerCycleResetsTheChip) {
  Rig rig(flashCart());
  rig.feed(controlStream(1) + readByteStream(0x008000));
  EXPECT_EQ(rig.replies(), std::vector<std::uint8_t>{kOpenBus});
  EXPECT_EQ(rig.cart.violations.size(), 1u);

  // Autoselect mode is lost when the slot's supply goes.
  rig.feed(powerStream(1) + writeByteStream(0x008AAA, 0xAA) + writeByteStream(0x008555, 0x55) +
           writeByteStream(0x008AAA, 0x90) + readByteStream(0x008000));
  EXPECT_EQ(rig.replies(), std::vector<std::uint8_t>{0x01});
  rig.feed(powerStream(0) + powerStream(1) + readByteStream(0x008000));
  EXPECT_EQ(rig.replies(), std::vector<std::uint8_t>{rig.cart.flash[0]});
}

// ---- cartridge mappings through the link ----------------------------------

struct BlockCase {
  const char* name;
  std::uint32_t address;
  std::uint32_t offset;  // in the flash, ROM or save RAM
};

TEST(BoardMappings, FlashCartridgeViewsByItsSettingsRecord) {
  const BlockCase loRom[] = {
      {"00:8000", 0x008000, 0}, {"05:8400", 0x058400, 0x28400}, {"7F:FC00", 0x7FFC00, 0x3FFC00},
      {"40:7C00 mirrors 40:FC00", 0x407C00, 0x207C00}, {"40:FC00", 0x40FC00, 0x207C00},
      {"40:0000", 0x400000, 0x200000},
  };
  const BlockCase hiRom[] = {
      {"40:0000", 0x400000, 0}, {"40:8000", 0x408000, 0x8000}, {"7F:8000", 0x7F8000, 0x3F8000},
      {"40:7C00", 0x407C00, 0x7C00}, {"C1:0000", 0xC10000, 0x10000}, {"00:FC00", 0x00FC00, 0xFC00},
  };
  for (bool hi : {false, true}) {
    VirtualCart cart = flashCart();
    cart.eeprom[0] = hi ? 0x10 : 0x00;  // the settings record's map mode
    Rig rig(std::move(cart));
    rig.start();
    cartlink::setControl(rig.link, 1);
    for (const BlockCase& c : hi ? std::span<const BlockCase>(hiRom) : std::span<const BlockCase>(loRom)) {
      EXPECT_EQ(rig.block(c.address), slice(rig.cart.flash, c.offset)) << (hi ? "HiROM " : "LoROM ") << c.name;
    }
    EXPECT_TRUE(rig.cart.violations.empty()) << violationsText(rig.cart);
  }
}

TEST(BoardMappings, ErasedSettingsRecordOrNoEepromMeansLoRom) {
  for (bool fitted : {true, false}) {
    VirtualCart cart = flashCart();
    cart.eeprom.assign(kEepromSize, fitted ? 0xFF : 0x10);
    if (!fitted) cart.faults.noEeprom = true;
    Rig rig(std::move(cart));
    rig.start();
    cartlink::setControl(rig.link, 1);
    EXPECT_EQ(rig.block(0x400000), slice(rig.cart.flash, 0x200000)) << "fitted " << fitted;
  }
}

struct GameCase {
  const char* name;
  MapMode mode;
  std::uint32_t romSize;
  std::vector<BlockCase> blocks;
};

TEST(BoardMappings, GameCartridgesWithMirroredRoms) {
  const GameCase cases[] = {
      {"LoROM 1 MB", MapMode::LoRom, kMb,
       {{"header block", 0x00FC00, 0x7C00}, {"01:8000", 0x018000, 0x8000}, {"1F:FC00", 0x1FFC00, 0xFFC00},
        {"20:8000 repeats", 0x208000, 0}}},
      {"LoROM 1.5 MB", MapMode::LoRom, 0x180000,
       {{"2F:FC00", 0x2FFC00, 0x17FC00}, {"30:8000 repeats the last half", 0x308000, kMb},
        {"3F:FC00", 0x3FFC00, 0x17FC00}, {"40:8000 starts over", 0x408000, 0}}},
      {"HiROM 3 MB", MapMode::HiRom, 3 * kMb,
       {{"header block", 0x00FC00, 0xFC00}, {"C0:0000", 0xC00000, 0}, {"EF:FC00", 0xEFFC00, 0x2FFC00},
        {"F0:0000 repeats the last MB", 0xF00000, 2 * kMb}, {"FF:FC00", 0xFFFC00, 0x2FFC00},
        {"40:8000", 0x408000, 0x8000}}},
      {"ExHiROM 6 MB", MapMode::ExHiRom, 6 * kMb,
       {{"header block", 0x00FC00, 0x40FC00}, {"C0:0000", 0xC00000, 0}, {"FF:FC00", 0xFFFC00, 0x3FFC00},
        {"40:0000", 0x400000, 4 * kMb}, {"5F:FC00", 0x5FFC00, 0x5FFC00},
        {"60:0000 repeats", 0x600000, 4 * kMb}}},
  };
  for (const GameCase& c : cases) {
    Rig rig(gameCart(c.mode, c.romSize));
    rig.start();
    cartlink::setControl(rig.link, 1);
    for (const BlockCase& b : c.blocks) {
      EXPECT_EQ(rig.block(b.address), slice(rig.cart.rom, b.offset)) << c.name << " " << b.name;
    }
    EXPECT_TRUE(rig.cart.violations.empty()) << violationsText(rig.cart);
  }
}

TEST(BoardMappings, SaveRamWindowsAreMirroredAndWritable) {
  struct Case {
    const char* name;
    VirtualCart cart;
    std::uint8_t control;
    std::uint32_t window;
    std::uint32_t mirror;  // a later address that shows the window's first block
  };
  VirtualCart hiFlash = flashCart(2 * kKb);
  hiFlash.eeprom[0] = 0x30;
  Case cases[] = {
      {"flash LoROM 8 KB", flashCart(8 * kKb), 1, 0x700000, 0x702000},
      {"flash HiROM 2 KB", std::move(hiFlash), 0, 0x306000, 0x306800},
      {"game LoROM 32 KB", gameCart(MapMode::LoRom, kMb, 32 * kKb), 1, 0x700000, 0x710000},
      {"game HiROM 8 KB", gameCart(MapMode::HiRom, kMb, 8 * kKb), 0, 0x306000, 0x316000},
      {"game HiROM 32 KB", gameCart(MapMode::HiRom, kMb, 32 * kKb), 0, 0x306000, 0x346000},
      {"game ExHiROM 8 KB", gameCart(MapMode::ExHiRom, 8 * kMb, 8 * kKb), 0, 0x306000, 0x3F6000},
  };
  for (Case& c : cases) {
    Rig rig(std::move(c.cart));
    rig.start();
    cartlink::setControl(rig.link, c.control);
    EXPECT_EQ(rig.block(c.mirror), slice(rig.cart.sram, 0)) << c.name;
    const std::vector<std::uint8_t> data = patterned(kKb, 4242);
    cartlink::writeBlock(rig.link, c.window, data.data());
    EXPECT_EQ(slice(rig.cart.sram, 0), data) << c.name;
    EXPECT_EQ(rig.block(c.mirror), data) << c.name;
    EXPECT_TRUE(rig.cart.violations.empty()) << c.name << "\n" << violationsText(rig.cart);
  }
}

// The flash tool clears the save RAM window after every programming run,
// whether or not the cartridge has save RAM. A flash cartridge without it
// leaves its window undriven, so the flash chip never sees those writes; a
// game cartridge's ROM ignores them.
TEST(BoardMappings, ClearingTheSaveRamWindowWithoutSaveRamTouchesNothing) {
  struct Case {
    const char* name;
    VirtualCart cart;
    bool hiRom;
  };
  VirtualCart hiFlash = flashCart(0);
  hiFlash.eeprom[0] = 0x10;
  Case cases[] = {
      {"flash LoROM", flashCart(0), false},
      {"flash HiROM", std::move(hiFlash), true},
      {"game LoROM", gameCart(MapMode::LoRom, kMb), false},
      {"game HiROM", gameCart(MapMode::HiRom, kMb), true},
  };
  const std::vector<std::uint8_t> zeros(kKb, 0x00);
  for (Case& c : cases) {
    Rig rig(std::move(c.cart));
    const std::vector<std::uint8_t> flash = rig.cart.flash;
    const std::vector<std::uint8_t> rom = rig.cart.rom;
    rig.start();
    cartlink::setControl(rig.link, c.hiRom ? 0 : 1);
    const std::uint32_t window = c.hiRom ? 0x306000 : 0x700000;
    for (std::uint32_t b = 0; b < (c.hiRom ? 8u : 32u); ++b) {
      cartlink::writeBlock(rig.link, window + b * kKb, zeros.data());
    }
    if (rig.cart.kind == CartKind::Flash) {
      EXPECT_EQ(rig.block(window), std::vector<std::uint8_t>(kKb, kOpenBus)) << c.name;
    }
    cartlink::setControl(rig.link, 0);
    boardSettle(rig.board);
    EXPECT_TRUE(rig.cart.flash == flash) << c.name;
    EXPECT_TRUE(rig.cart.rom == rom) << c.name;
    EXPECT_TRUE(rig.cart.violations.empty()) << c.name << "\n" << violationsText(rig.cart);
  }
}

TEST(BoardMappings, SuperFxRamInTheLoRomSaveRamWindow) {
  VirtualCart cart = gameCart(MapMode::LoRom, kMb);
  cart.superFxRam = patterned(64 * kKb, 31);
  Rig rig(std::move(cart));
  rig.start();
  cartlink::setControl(rig.link, 1);
  EXPECT_EQ(rig.block(0x700000), slice(rig.cart.superFxRam, 0));
  EXPECT_EQ(rig.block(0x710400), slice(rig.cart.superFxRam, 0x8400));
  EXPECT_EQ(rig.block(0x720000), slice(rig.cart.superFxRam, 0));
}

// ---- flash work with the host's own streams -------------------------------

// One chip cycle as the flash tool frames it: control 0x00, 0x01, the write.
ByteStream cycle(std::uint32_t address, std::uint8_t data) {
  return controlStream(0) + controlStream(1) + writeByteStream(address, data);
}

ByteStream identificationStream() {
  return cycle(0x008AAA, 0xAA) + cycle(0x008555, 0x55) + cycle(0x008AAA, 0x90) + controlStream(0) +
         controlStream(1) + readByteStream(0x008000) + controlStream(0) + controlStream(1) +
         readByteStream(0x008002) + cycle(0x008000, 0xF0) + controlStream(0);
}

ByteStream eraseStream(std::uint32_t address, std::uint8_t last) {
  return cycle(0x008AAA, 0xAA) + cycle(0x008555, 0x55) + cycle(0x008AAA, 0x80) + cycle(0x008AAA, 0xAA) +
         cycle(0x008555, 0x55) + cycle(address, last) + controlStream(0);
}

// The erase wait of the flash tool: 50 ms pauses, one poll each, until the
// erase address reads 0xFF or the limit of whole seconds has passed.
bool waitForErase(Rig& rig, std::uint32_t address, int limitSeconds) {
  const ByteStream poll = controlStream(1) + readByteStream(address) + controlStream(0);
  int seconds = 0;
  std::uint64_t mark = cartlink::ticksMs(rig.link);
  for (int polls = 0; polls < 100000; ++polls) {
    cartlink::pauseMs(rig.link, 50);
    if (cartlink::ticksMs(rig.link) - mark >= 1000) {
      ++seconds;
      mark += 1000;
    }
    cartlink::send(rig.link, poll);
    std::uint8_t value = 0;
    cartlink::receive(rig.link, &value, 1);
    if (value == 0xFF) return true;
    if (seconds >= limitSeconds) return false;
  }
  return false;
}

TEST(BoardFlash, IdentificationAndSectorEraseWithTheHostStreams) {
  Rig rig(flashCart());
  rig.start();
  const ByteStream identify = identificationStream();
  ASSERT_EQ(identify.size(), 54u);
  cartlink::send(rig.link, identify);
  std::uint8_t ids[2] = {};
  cartlink::receive(rig.link, ids, 2);
  EXPECT_EQ(ids[0], 0x01);
  EXPECT_EQ(ids[1], 0x56);
  cartlink::send(rig.link, kProgramSequence);

  const ByteStream erase = eraseStream(0x028000, 0x30);  // the sector at flash offset 0x10000
  ASSERT_EQ(erase.size(), 56u);
  const std::uint64_t start = rig.board.nowUs;
  cartlink::send(rig.link, erase);
  ASSERT_TRUE(waitForErase(rig, 0x028000, 15));
  const std::uint64_t took = rig.board.nowUs - start;
  EXPECT_GE(took, timing::kFlashMainSectorEraseUs);
  EXPECT_LT(took, timing::kFlashMainSectorEraseUs + 100'000);

  EXPECT_TRUE(std::all_of(rig.cart.flash.begin() + 0x10000, rig.cart.flash.begin() + 0x20000,
                          [](std::uint8_t b) { return b == 0xFF; }));
  EXPECT_EQ(rig.cart.flash[0xFFFF], patternAt(0xFFFF));
  EXPECT_EQ(rig.cart.flash[0x20000], patternAt(0x20000));
  EXPECT_TRUE(rig.cart.violations.empty()) << violationsText(rig.cart);
  EXPECT_FALSE(rig.link.ioFailed);
}

// The flash tool sends its chip cycles and id reads through 00:8xxx whatever
// map mode the cartridge's settings record selects; in the HiROM view they
// land at flash offsets 0x8000 and up, where the chip decodes only the low
// address bits.
TEST(BoardFlash, IdentificationAndChipEraseThroughBank00InEitherView) {
  for (bool hi : {false, true}) {
    SCOPED_TRACE(hi ? "HiROM view" : "LoROM view");
    VirtualCart cart = flashCart();
    cart.eeprom[0] = hi ? 0x10 : 0x00;
    Rig rig(std::move(cart));
    rig.start();
    ASSERT_EQ(rig.board.view.mode, hi ? MapMode::HiRom : MapMode::LoRom);
    cartlink::send(rig.link, identificationStream());
    std::uint8_t ids[2] = {};
    cartlink::receive(rig.link, ids, 2);
    EXPECT_EQ(ids[0], 0x01);
    EXPECT_EQ(ids[1], 0x56);

    cartlink::send(rig.link, eraseStream(0x008AAA, 0x10));
    ASSERT_TRUE(waitForErase(rig, 0x008AAA, 120));
    EXPECT_TRUE(std::all_of(rig.cart.flash.begin(), rig.cart.flash.end(), [](std::uint8_t b) { return b == 0xFF; }));
    EXPECT_TRUE(rig.cart.violations.empty()) << violationsText(rig.cart);
  }
}

TEST(BoardFlash, ReadsDuringAnEraseSeeTheChipsStatus) {
  Rig rig(flashCart());
  rig.start();
  cartlink::send(rig.link, eraseStream(0x008AAA, 0x10));
  cartlink::setControl(rig.link, 1);
  const std::vector<std::uint8_t> first = rig.block(0x008000);
  cartlink::setControl(rig.link, 0);
  // Toggle bit DQ6 flips from read to read while the chip erases.
  EXPECT_NE(first[0] & 0x40, first[1] & 0x40);
  EXPECT_NE(first, slice(rig.cart.flash, 0));
}

struct FlashBlockCase {
  const char* name;
  bool sequence;
  ByteStream sequenceStream;
  std::uint8_t cellValue;   // what the target block holds before
  std::int32_t faultBlock;  // Faults::failingBlock
  std::uint8_t status;
  bool violation;
};

TEST(BoardFlash, FlashBlockStatus) {
  const ByteStream wrongSequence = {0x47, 0x55, 0x85, 0x00, 0xAA, 0xAA, 0x8A, 0x00, 0x55, 0xAA, 0x8A, 0x00, 0xA0};
  const FlashBlockCase cases[] = {
      {"erased block", true, kProgramSequence, 0xFF, -1, kFlashBlockDone, false},
      {"block not erased", true, kProgramSequence, 0x00, -1, kFlashBlockNotTaken, false},
      {"no program sequence", false, {}, 0xFF, -1, kFlashBlockNoSequence, true},
      {"wrong program sequence", true, wrongSequence, 0xFF, -1, kFlashBlockNotTaken, true},
      {"faulty block", true, kProgramSequence, 0xFF, 0x28400 / 1024, 'X', false},
  };
  const std::vector<std::uint8_t> data = patterned(kKb, 555);
  for (const FlashBlockCase& c : cases) {
    VirtualCart cart = flashCart();
    std::fill(cart.flash.begin() + 0x28400, cart.flash.begin() + 0x28800, c.cellValue);
    cart.faults.failingBlock = c.faultBlock;
    Rig rig(std::move(cart));
    rig.start();
    if (c.sequence) cartlink::send(rig.link, c.sequenceStream);
    const std::uint64_t start = rig.board.nowUs;
    cartlink::flashBlock(rig.link, 0x058400, data.data());
    std::uint8_t status = 0;
    cartlink::receive(rig.link, &status, 1);
    EXPECT_EQ(status, c.status) << c.name;
    EXPECT_EQ(rig.cart.violations.empty(), !c.violation) << c.name << "\n" << violationsText(rig.cart);
    EXPECT_EQ(rig.cart.faults.fired, c.faultBlock >= 0 ? 1u : 0u) << c.name;
    if (c.status == kFlashBlockDone) {
      EXPECT_EQ(slice(rig.cart.flash, 0x28400), data) << c.name;
      EXPECT_GE(rig.board.nowUs - start, kKb * timing::kFlashByteProgramUs) << c.name;
    }
  }
}

TEST(BoardFlash, BatchOf32BlocksAnswers32StatusBytesInBlockOrder) {
  VirtualCart cart = flashCart();
  std::fill(cart.flash.begin(), cart.flash.begin() + 0x8000, 0xFF);
  cart.faults.failingBlock = 3;
  cart.faults.failingBlockStatus = 'X';
  Rig rig(std::move(cart));
  rig.start();
  cartlink::send(rig.link, kProgramSequence);
  const std::vector<std::uint8_t> image = patterned(32 * kKb, 9);
  for (std::uint32_t j = 0; j < 32; ++j) cartlink::flashBlock(rig.link, 0x008000 + j * kKb, image.data() + j * kKb);
  std::vector<std::uint8_t> status(32);
  cartlink::receive(rig.link, status.data(), 32);
  std::vector<std::uint8_t> expected(32, kFlashBlockDone);
  expected[3] = 'X';
  EXPECT_EQ(status, expected);
  EXPECT_EQ(slice(rig.cart.flash, 0, 3 * kKb), slice(image, 0, 3 * kKb));
  EXPECT_EQ(slice(rig.cart.flash, 4 * kKb, 28 * kKb), slice(image, 4 * kKb, 28 * kKb));
  EXPECT_TRUE(rig.cart.violations.empty()) << violationsText(rig.cart);
}

TEST(BoardFlash, HiRomFlashBlocksLandAtTheHiRomOffsets) {
  VirtualCart cart = flashCart();
  cart.eeprom[0] = 0x10;
  std::fill(cart.flash.begin() + 0x18000, cart.flash.begin() + 0x18400, 0xFF);
  Rig rig(std::move(cart));
  rig.start();
  cartlink::send(rig.link, kProgramSequence);
  const std::vector<std::uint8_t> data = patterned(kKb, 77);
  cartlink::flashBlock(rig.link, 0x418000, data.data());
  std::uint8_t status = 0;
  cartlink::receive(rig.link, &status, 1);
  EXPECT_EQ(status, kFlashBlockDone);
  EXPECT_EQ(slice(rig.cart.flash, 0x18000), data);
}

// ---- the settings EEPROM through its lines --------------------------------

// The flash tool's line commands and bit cells.
ByteStream line(std::uint8_t high) { return writeByteStream(std::uint32_t{high} << 8, 0x00); }

void bits(Rig& rig, std::uint32_t value, int count) {
  for (int i = count - 1; i >= 0; --i) {
    const bool one = ((value >> i) & 1) != 0;
    cartlink::send(rig.link, line(one ? 0xE0 : 0xA0) + line(one ? 0xF0 : 0xB0));
  }
}

bool readyWait(Rig& rig, int limit) {
  cartlink::send(rig.link, line(0x80) + line(0xA0));
  for (int polls = 1; polls < limit; ++polls) {
    if ((cartlink::readStatus(rig.link) & 0x01) != 0) {
      cartlink::send(rig.link, line(0x80));
      return true;
    }
  }
  return false;
}

std::vector<std::uint8_t> readEeprom(Rig& rig) {
  cartlink::setControl(rig.link, 0x00);
  bits(rig, 0b110'0000000, 10);
  std::vector<std::uint8_t> bytes(kEepromSize);
  for (std::uint8_t& byte : bytes) {
    for (int i = 0; i < 8; ++i) cartlink::send(rig.link, line(0xA0) + line(0xB0) + statusStream());
    std::uint8_t replies[8] = {};
    cartlink::receive(rig.link, replies, 8);
    byte = 0;
    for (int i = 0; i < 8; ++i) byte = static_cast<std::uint8_t>(byte | ((replies[i] & 1) << (7 - i)));
  }
  cartlink::send(rig.link, line(0x80));
  return bytes;
}

bool writeEeprom(Rig& rig, const std::vector<std::uint8_t>& data) {
  cartlink::setControl(rig.link, 0x00);
  bits(rig, 0b10011'00000, 10);  // EWEN
  cartlink::send(rig.link, line(0x80));
  for (std::uint32_t a = 0; a < data.size(); ++a) {
    bits(rig, (0b111u << 7) | a, 10);  // ERASE
    if (!readyWait(rig, 200)) return false;
  }
  for (std::uint32_t a = 0; a < data.size(); ++a) {
    if (data[a] == 0xFF) continue;
    bits(rig, (0b101u << 15) | (a << 8) | data[a], 18);  // WRITE
    if (!readyWait(rig, 200)) return false;
  }
  cartlink::send(rig.link, line(0x88) + ByteStream(8, cartlink::CMD_STATUS));
  std::uint8_t replies[8];
  cartlink::receive(rig.link, replies, 8);
  return true;
}

TEST(BoardEeprom, ReadAndWriteThroughTheLinesAsTheFlashToolDrivesThem) {
  VirtualCart cart = flashCart();
  for (std::uint32_t i = 0; i < kEepromSize; ++i) cart.eeprom[i] = static_cast<std::uint8_t>(i * 3 + 1);
  Rig rig(std::move(cart));
  rig.start();
  EXPECT_EQ(readEeprom(rig), rig.cart.eeprom);

  std::vector<std::uint8_t> record(kEepromSize, 0xFF);
  record[0] = 0x70;  // HiROM, 8 KB
  const char name[] = "/game";
  std::copy(name, name + sizeof name, record.begin() + 1);
  ASSERT_TRUE(writeEeprom(rig, record));
  EXPECT_EQ(rig.cart.eeprom, record);
  EXPECT_EQ(readEeprom(rig), record);
  EXPECT_TRUE(rig.cart.violations.empty()) << violationsText(rig.cart);
  EXPECT_FALSE(rig.link.ioFailed);
}

TEST(BoardEeprom, ControlTwoAppliesTheNewSettingsRecord) {
  Rig rig(flashCart());
  rig.start();
  ASSERT_TRUE(writeEeprom(rig, {0x10}));
  cartlink::setControl(rig.link, 1);
  EXPECT_EQ(rig.block(0x400000), slice(rig.cart.flash, 0x200000));  // still LoROM
  cartlink::setControl(rig.link, 2);
  cartlink::setControl(rig.link, 1);
  EXPECT_EQ(rig.block(0x400000), slice(rig.cart.flash, 0));  // HiROM now
  EXPECT_TRUE(rig.cart.violations.empty()) << violationsText(rig.cart);
}

// ---- time -----------------------------------------------------------------

TEST(BoardTime, TransfersAndPausesAdvanceTheVirtualClock) {
  Rig rig(flashCart());
  ASSERT_TRUE(cartlink::open(rig.link, cartlink::kDeviceDescription));
  cartlink::powerOn(rig.link);  // 2 bytes, then the 400 ms pause
  EXPECT_EQ(rig.board.nowUs, 2u + 400'000u);

  cartlink::setControl(rig.link, 1);
  std::uint64_t before = rig.board.nowUs;
  std::vector<std::uint8_t> chunk(32 * kKb);
  cartlink::readBlocks(rig.link, 0x008000, 32, chunk.data());
  // 32 commands of 4 bytes out, 32,768 bytes back at 1 MB/s; no latency wait.
  EXPECT_EQ(rig.board.nowUs - before, 32u * 4u + 32'768u);

  before = rig.board.nowUs;
  cartlink::readStatus(rig.link);
  // 1 byte out, 1 byte back after the 16 ms latency timer.
  EXPECT_EQ(rig.board.nowUs - before, 1u + 1u + 16'000u);

  before = rig.board.nowUs;
  std::uint8_t ids[2];
  cartlink::send(rig.link, identificationStream());
  cartlink::receive(rig.link, ids, 2);
  EXPECT_EQ(rig.board.nowUs - before, 54u + 2u + 16'000u);

  before = rig.board.nowUs;
  cartlink::pauseMs(rig.link, 400);
  EXPECT_EQ(rig.board.nowUs - before, 400'000u);
  EXPECT_EQ(cartlink::ticksMs(rig.link), rig.board.nowUs / 1000);
}

TEST(BoardTime, FlashBlockBatchCostsProgrammingAndTransfer) {
  VirtualCart cart = flashCart();
  std::fill(cart.flash.begin(), cart.flash.begin() + 0x8000, 0xFF);
  Rig rig(std::move(cart));
  rig.start();
  cartlink::send(rig.link, kProgramSequence);
  const std::vector<std::uint8_t> image = patterned(32 * kKb, 3);
  const std::uint64_t before = rig.board.nowUs;
  for (std::uint32_t j = 0; j < 32; ++j) cartlink::flashBlock(rig.link, 0x008000 + j * kKb, image.data() + j * kKb);
  std::uint8_t status[32];
  cartlink::receive(rig.link, status, 32);
  const std::uint64_t expected =
      32u * 1028u + 32u * kKb * timing::kFlashByteProgramUs + 32u + timing::kUsbLatencyTimerUs;
  EXPECT_EQ(rig.board.nowUs - before, expected);
}

// ---- faults ---------------------------------------------------------------

TEST(BoardFaults, EraseThatNeverCompletesOrCompletesLate) {
  {
    VirtualCart cart = flashCart();
    cart.faults.erase = EraseFault::Never;
    Rig rig(std::move(cart));
    rig.start();
    cartlink::send(rig.link, eraseStream(0x008000, 0x30));
    EXPECT_FALSE(waitForErase(rig, 0x008000, 15));
    boardSettle(rig.board);
    EXPECT_GE(rig.cart.faults.fired, 1u);
  }
  {
    VirtualCart cart = flashCart();
    cart.faults.erase = EraseFault::Late;
    cart.faults.eraseLateMs = 3000;
    Rig rig(std::move(cart));
    rig.start();
    const std::uint64_t start = rig.board.nowUs;
    cartlink::send(rig.link, eraseStream(0x008000, 0x30));
    EXPECT_TRUE(waitForErase(rig, 0x008000, 15));
    EXPECT_GE(rig.board.nowUs - start, timing::kFlashBootSectorEraseUs + 3'000'000);
    boardSettle(rig.board);
    EXPECT_GE(rig.cart.faults.fired, 1u);
  }
}

TEST(BoardFaults, NoEepromReadsZerosAndNeverReportsReady) {
  VirtualCart cart = flashCart();
  cart.faults.noEeprom = true;
  Rig rig(std::move(cart));
  rig.start();
  EXPECT_EQ(readEeprom(rig), std::vector<std::uint8_t>(kEepromSize, 0x00));
  EXPECT_FALSE(writeEeprom(rig, {0x00}));
  boardSettle(rig.board);
  EXPECT_GE(rig.cart.faults.fired, 1u);
}

TEST(BoardFaults, CartridgeWithoutEepromKeepsItsRecordEmpty) {
  VirtualCart cart = flashCart();
  cart.hasEeprom = false;
  cart.eeprom.clear();
  Rig rig(std::move(cart));
  rig.start();
  EXPECT_EQ(readEeprom(rig), std::vector<std::uint8_t>(kEepromSize, 0x00));
  EXPECT_TRUE(rig.cart.eeprom.empty());
}

TEST(BoardFaults, EepromThatStaysBusy) {
  VirtualCart cart = flashCart();
  cart.faults.eepromStaysBusy = true;
  Rig rig(std::move(cart));
  rig.start();
  EXPECT_FALSE(writeEeprom(rig, {0x00}));
  boardSettle(rig.board);
  EXPECT_GE(rig.cart.faults.fired, 1u);
}

TEST(BoardFaults, DirtyContactChangesBlocksFromTheirSecondReadInASession) {
  VirtualCart cart = flashCart();
  cart.faults.dirtyContact = true;
  Rig rig(std::move(cart));
  rig.start();
  cartlink::setControl(rig.link, 1);
  const std::vector<std::uint8_t> clean = slice(rig.cart.flash, 0x8000);
  EXPECT_EQ(rig.block(0x018000), clean);
  EXPECT_EQ(rig.block(0x028000), slice(rig.cart.flash, 0x10000));
  const std::vector<std::uint8_t> second = rig.block(0x018000);
  EXPECT_NE(second, clean);
  int bitsDiffering = 0;
  for (std::uint32_t i = 0; i < kKb; ++i) bitsDiffering += std::popcount(static_cast<unsigned>(second[i] ^ clean[i]));
  EXPECT_EQ(bitsDiffering, 1);
  EXPECT_EQ(rig.cart.faults.fired, 1u);

  cartlink::close(rig.link);
  ASSERT_TRUE(cartlink::open(rig.link, cartlink::kDeviceDescription));
  cartlink::setControl(rig.link, 1);
  EXPECT_EQ(rig.block(0x018000), clean);  // a new session
}

TEST(BoardFaults, UnplugAfterNBytesFailsEveryLaterCall) {
  VirtualCart cart = flashCart();
  cart.faults.unplugAfterBytes = 10;
  Rig rig(std::move(cart));
  platform::FtHandle handle = nullptr;
  char description[] = "USB ROMWRIGHT";
  ASSERT_EQ(rig.driver.openEx(rig.driver.state, description, platform::kOpenByDescription, &handle), 0u);
  std::uint8_t on[] = {0x50, 0x01, 0x43, 0x01, 0x52, 0x00, 0x80, 0x00};  // 8 bytes
  platform::Dword done = 0;
  EXPECT_EQ(rig.driver.write(rig.driver.state, handle, on, sizeof on, &done), 0u);
  EXPECT_EQ(done, 8u);
  std::vector<std::uint8_t> buffer(kKb);
  // Two more bytes cross, then the device is gone.
  EXPECT_NE(rig.driver.read(rig.driver.state, handle, buffer.data(), kKb, &done), 0u);
  EXPECT_EQ(done, 2u);
  EXPECT_NE(rig.driver.write(rig.driver.state, handle, on, 2, &done), 0u);
  EXPECT_EQ(done, 0u);
  EXPECT_NE(rig.driver.read(rig.driver.state, handle, buffer.data(), 1, &done), 0u);
  EXPECT_EQ(done, 0u);
  EXPECT_NE(rig.driver.close(rig.driver.state, handle), 0u);
  EXPECT_NE(rig.driver.openEx(rig.driver.state, description, platform::kOpenByDescription, &handle), 0u);
  EXPECT_EQ(rig.cart.faults.fired, 1u);
}

// ---- the driver table -----------------------------------------------------

TEST(BoardDriver, OpensOnlyByItsDescriptionAndOnlyOnce) {
  Rig rig(flashCart());
  platform::FtHandle handle = nullptr;
  char wrong[] = "USB SOMETHING";
  char right[] = "USB ROMWRIGHT";
  EXPECT_NE(rig.driver.openEx(rig.driver.state, wrong, platform::kOpenByDescription, &handle), 0u);
  EXPECT_NE(rig.driver.openEx(rig.driver.state, right, 1, &handle), 0u);
  ASSERT_EQ(rig.driver.openEx(rig.driver.state, right, platform::kOpenByDescription, &handle), 0u);
  platform::FtHandle again = nullptr;
  EXPECT_NE(rig.driver.openEx(rig.driver.state, right, platform::kOpenByDescription, &again), 0u);
  EXPECT_EQ(rig.driver.close(rig.driver.state, handle), 0u);
  EXPECT_NE(rig.driver.close(rig.driver.state, handle), 0u);
}

TEST(BoardDriver, ReadingMoreThanTheRepliesIsAViolation) {
  Rig rig(flashCart());
  rig.start();
  cartlink::setControl(rig.link, 1);
  cartlink::send(rig.link, readByteStream(0x008000));
  std::uint8_t buffer[4];
  EXPECT_EQ(cartlink::receive(rig.link, buffer, 4).done, 1u);
  ASSERT_EQ(rig.cart.violations.size(), 1u);
  EXPECT_NE(rig.cart.violations[0].find("wait for ever"), std::string::npos);
}

}  // namespace
}  // namespace vprog
