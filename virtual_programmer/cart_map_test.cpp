#include "virtual_programmer/cart_map.h"

#include <gtest/gtest.h>

#include <string>

namespace vprog {
namespace {

constexpr std::uint32_t kMb = 0x100000;

TEST(MirrorInto, RepeatsTheRemainderUpToTheNextPowerOfTwoThenTheWhole) {
  struct Case {
    std::uint32_t offset, size, expected;
  };
  const Case cases[] = {
      {0x100, 0x8000, 0x100},                    // inside the memory
      {0x2800, 0x800, 0x000},                    // 2 KB repeated
      {3 * kMb, 3 * kMb, 2 * kMb},               // 3 MB: the last megabyte repeats
      {4 * kMb - 1, 3 * kMb, 3 * kMb - 1},
      {0x180000, 0x180000, kMb},                 // 1.5 MB: the last half megabyte repeats
      {2 * kMb - 1, 0x180000, 0x17FFFF},
      {2 * kMb, 0x180000, 0},                    // then the whole 2 MB space again
      {0x380000, 0x180000, kMb},
      {8 * kMb - 1, 5 * kMb, 5 * kMb - 1},       // 5 MB in an 8 MB space
      {6 * kMb, 5 * kMb, 4 * kMb},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(mirrorInto(c.offset, c.size).offset, c.expected)
        << std::hex << "offset 0x" << c.offset << " size 0x" << c.size;
  }
}

TEST(MirrorInto, RunStopsWhereTheRepetitionJumps) {
  EXPECT_EQ(mirrorInto(0x17FC00, 0x180000).run, 0x400u);  // the end of the memory
  EXPECT_EQ(mirrorInto(0x1FFC00, 0x180000).run, 0x400u);  // the end of the mirrored part
  EXPECT_EQ(mirrorInto(kMb, 0x180000).run, 0x80000u);
  EXPECT_EQ(mirrorInto(0x2C00, 0x800).run, 0x400u);
}

struct MapCase {
  const char* name;
  CartView view;
  std::uint32_t address;
  bool romSelect;
  bool write;
  BusTarget target;
  std::uint32_t offset;
};

CartView flashView(MapMode mode, std::uint32_t sram) {
  CartView view;
  view.kind = CartKind::Flash;
  view.mode = mode;
  view.romSize = 0x400000;
  view.saveRamSize = sram;
  return view;
}

CartView gameView(MapMode mode, std::uint32_t rom, std::uint32_t sram, std::uint32_t superFx = 0) {
  CartView view;
  view.kind = CartKind::Game;
  view.mode = mode;
  view.romSize = rom;
  view.saveRamSize = sram;
  view.superFxRamSize = superFx;
  return view;
}

TEST(MapBus, EachCartridgeDecodesTheBusAsItsBoardIsWired) {
  const CartView flashLo = flashView(MapMode::LoRom, 0x2000);
  const CartView flashLoNoRam = flashView(MapMode::LoRom, 0);
  const CartView flashHi = flashView(MapMode::HiRom, 0x800);
  const CartView lo15 = gameView(MapMode::LoRom, 0x180000, 0x8000);
  const CartView hi3 = gameView(MapMode::HiRom, 3 * kMb, 0x8000);
  const CartView ex8 = gameView(MapMode::ExHiRom, 8 * kMb, 0x2000);
  const CartView ex6 = gameView(MapMode::ExHiRom, 6 * kMb, 0);
  const CartView superFx = gameView(MapMode::LoRom, kMb, 0, 0x10000);
  using T = BusTarget;
  const MapCase cases[] = {
      {"flash LoROM first byte", flashLo, 0x008000, true, false, T::Flash, 0},
      {"flash LoROM unlock address", flashLo, 0x008AAA, true, true, T::Flash, 0xAAA},
      {"flash LoROM sector at 02:8000", flashLo, 0x028000, true, false, T::Flash, 0x10000},
      {"flash LoROM last byte", flashLo, 0x7FFFFF, true, false, T::Flash, 0x3FFFFF},
      {"flash LoROM lower half of bank 40", flashLo, 0x407C00, true, false, T::Flash, 0x207C00},
      {"flash LoROM bank 80 mirrors bank 00", flashLo, 0x808000, true, false, T::Flash, 0},
      {"flash LoROM save RAM", flashLo, 0x700000, true, false, T::SaveRam, 0},
      {"flash LoROM save RAM mirrored", flashLo, 0x702400, true, false, T::SaveRam, 0x400},
      {"flash LoROM save RAM next bank", flashLo, 0x710000, true, false, T::SaveRam, 0},
      {"flash LoROM no save RAM: nothing", flashLoNoRam, 0x700000, true, true, T::None, 0},
      {"flash LoROM no save RAM: 6F:0000 is flash", flashLoNoRam, 0x6F0000, true, false, T::Flash, 0x378000},
      {"flash LoROM has no 30:6000 window", flashLo, 0x306000, false, false, T::None, 0},
      {"EEPROM line write", flashLo, 0x00A000, false, true, T::EepromLines, 0xA000},
      {"EEPROM lines only in bank 00", flashLo, 0x01A000, false, true, T::None, 0},
      {"EEPROM lines are not read", flashLo, 0x00A000, false, false, T::None, 0},
      {"ROM area without ROM select", flashLo, 0x008000, false, false, T::None, 0},
      {"flash HiROM bank 40", flashHi, 0x400000, true, false, T::Flash, 0},
      {"flash HiROM 40:8000", flashHi, 0x408000, true, false, T::Flash, 0x8000},
      {"flash HiROM last byte", flashHi, 0x7FFFFF, true, false, T::Flash, 0x3FFFFF},
      {"flash HiROM bank C0", flashHi, 0xC01234, true, false, T::Flash, 0x1234},
      {"flash HiROM 00:8AAA", flashHi, 0x008AAA, true, true, T::Flash, 0x8AAA},
      {"flash HiROM 3F:8000", flashHi, 0x3F8000, true, false, T::Flash, 0x3F8000},
      {"flash HiROM save RAM", flashHi, 0x306000, false, false, T::SaveRam, 0},
      {"flash HiROM 2 KB save RAM mirrored", flashHi, 0x307C00, false, false, T::SaveRam, 0x400},
      {"game LoROM header", lo15, 0x00FFB0, true, false, T::Rom, 0x7FB0},
      {"game LoROM 1.5 MB: 30:8000 mirrors 1 MB", lo15, 0x308000, true, false, T::Rom, kMb},
      {"game LoROM 1.5 MB: 3F:FFFF", lo15, 0x3FFFFF, true, false, T::Rom, 0x17FFFF},
      {"game LoROM 1.5 MB: 40:8000 is the start again", lo15, 0x408000, true, false, T::Rom, 0},
      {"game LoROM save RAM 32 KB", lo15, 0x717FFF, true, false, T::SaveRam, 0x7FFF},
      {"game HiROM header", hi3, 0x00FFB0, true, false, T::Rom, 0xFFB0},
      {"game HiROM C0:0000", hi3, 0xC00000, true, false, T::Rom, 0},
      {"game HiROM 3 MB: F0:0000 repeats the last MB", hi3, 0xF00000, true, false, T::Rom, 2 * kMb},
      {"game HiROM 3 MB: FF:FFFF", hi3, 0xFFFFFF, true, false, T::Rom, 3 * kMb - 1},
      {"game HiROM save RAM 33:7FFF", hi3, 0x337FFF, false, false, T::SaveRam, 0x7FFF},
      {"game HiROM save RAM 34:6000 repeats", hi3, 0x346000, false, false, T::SaveRam, 0},
      {"game HiROM save RAM B0:6000", hi3, 0xB06000, false, false, T::SaveRam, 0},
      {"game HiROM 30:6000 with ROM select is ROM", hi3, 0x306000, true, false, T::Rom, 2 * kMb + 0x6000},
      {"game ExHiROM header", ex8, 0x00FFB0, true, false, T::Rom, 0x40FFB0},
      {"game ExHiROM 80:FFB0", ex8, 0x80FFB0, true, false, T::Rom, 0xFFB0},
      {"game ExHiROM C0:0000", ex8, 0xC00000, true, false, T::Rom, 0},
      {"game ExHiROM 40:0000", ex8, 0x400000, true, false, T::Rom, 4 * kMb},
      {"game ExHiROM 7F:FFFF", ex8, 0x7FFFFF, true, false, T::Rom, 8 * kMb - 1},
      {"game ExHiROM 6 MB: 7F:FFFF", ex6, 0x7FFFFF, true, false, T::Rom, 6 * kMb - 1},
      {"game ExHiROM 6 MB: 60:0000 repeats", ex6, 0x600000, true, false, T::Rom, 4 * kMb},
      {"game ExHiROM save RAM", ex8, 0x316000, false, false, T::SaveRam, 0},
      {"Super FX RAM", superFx, 0x700000, true, false, T::SuperFxRam, 0},
      {"Super FX RAM second bank", superFx, 0x710000, true, false, T::SuperFxRam, 0x8000},
      {"Super FX RAM repeated", superFx, 0x720000, true, false, T::SuperFxRam, 0},
  };
  for (const MapCase& c : cases) {
    const BusMapping at = mapBus(c.view, c.address, c.romSelect, c.write);
    EXPECT_EQ(at.target, c.target) << c.name;
    if (c.target != BusTarget::None) {
      EXPECT_EQ(at.offset, c.offset) << c.name;
    }
    EXPECT_GE(at.run, 1u) << c.name;
  }
}

TEST(MapBus, RunsCoverAWholeAlignedBlockAndStopAtBoundaries) {
  const CartView lo = gameView(MapMode::LoRom, 0x180000, 0x2000);
  EXPECT_GE(mapBus(lo, 0x008000, true, false).run, 0x400u);
  EXPECT_EQ(mapBus(lo, 0x00FFF0, true, false).run, 0x10u);  // bank end
  EXPECT_EQ(mapBus(lo, 0x2FFC00, true, false).run, 0x400u);  // end of the 1.5 MB
  const CartView hi = gameView(MapMode::HiRom, 0x400000, 0x2000);
  EXPECT_EQ(mapBus(hi, 0x307F00, false, false).run, 0x100u);  // end of the 8 KB window
}

// The copy tool reads a cartridge through five fixed address formulas, one
// per memory and map mode. Every block they reach on a cartridge that fills
// their whole reach must hold the byte at the offset they were given.
TEST(MapBus, EveryBlockTheCopyToolAddressesHoldsItsOffset) {
  struct Case {
    const char* name;
    CartView view;
    bool romSelect;
    BusTarget target;
    std::uint32_t size;
    std::uint32_t (*address)(std::uint32_t offset);
  };
  const Case cases[] = {
      {"LoROM ROM", gameView(MapMode::LoRom, 4 * kMb, 0), true, BusTarget::Rom, 4 * kMb,
       [](std::uint32_t o) { return (((o >> 15) & 0x7F) << 16) | (0x8000 + (o & 0x7FFF)); }},
      {"HiROM ROM", gameView(MapMode::HiRom, 4 * kMb, 0), true, BusTarget::Rom, 4 * kMb,
       [](std::uint32_t o) { return ((0xC0 + ((o >> 16) & 0x3F)) << 16) | (o & 0xFFFF); }},
      {"ExHiROM ROM", gameView(MapMode::ExHiRom, 8 * kMb, 0), true, BusTarget::Rom, 8 * kMb,
       [](std::uint32_t o) {
         const std::uint32_t bank = ((o >> 16) & 0x3F) + ((o & 0x400000) != 0 ? 0x40 : 0xC0);
         return (bank << 16) | (o & 0xFFFF);
       }},
      {"LoROM save RAM", gameView(MapMode::LoRom, kMb, 0x20000), true, BusTarget::SaveRam, 0x20000,
       [](std::uint32_t o) { return ((0x70 + ((o >> 15) & 0x0F)) << 16) | (o & 0x7FFF); }},
      {"Super FX RAM", gameView(MapMode::LoRom, kMb, 0x2000, 0x20000), true, BusTarget::SuperFxRam, 0x20000,
       [](std::uint32_t o) { return ((0x70 + ((o >> 15) & 0x0F)) << 16) | (o & 0x7FFF); }},
      {"HiROM save RAM", gameView(MapMode::HiRom, kMb, 0x20000), false, BusTarget::SaveRam, 0x20000,
       [](std::uint32_t o) { return ((0x30 + ((o >> 13) & 0x0F)) << 16) | (0x6000 + (o & 0x1FFF)); }},
      {"ExHiROM save RAM", gameView(MapMode::ExHiRom, 8 * kMb, 0x20000), false, BusTarget::SaveRam, 0x20000,
       [](std::uint32_t o) { return ((0x30 + ((o >> 13) & 0x0F)) << 16) | (0x6000 + (o & 0x1FFF)); }},
  };
  for (const Case& c : cases) {
    for (std::uint32_t offset = 0; offset < c.size; offset += 0x400) {
      const std::uint32_t address = c.address(offset);
      const BusMapping at = mapBus(c.view, address, c.romSelect, false);
      ASSERT_EQ(at.target, c.target) << c.name << std::hex << " offset 0x" << offset;
      ASSERT_EQ(at.offset, offset) << c.name << std::hex << " offset 0x" << offset;
      ASSERT_GE(at.run, 0x400u) << c.name << std::hex << " offset 0x" << offset;
    }
  }
}

}  // namespace
}  // namespace vprog
