#include "romwright/image/header_score.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <iterator>
#include <vector>

namespace romwright {
namespace {

using Area = std::uint8_t[kHeaderAreaSize];

void putWord(std::uint8_t* area, std::uint32_t offset, unsigned value) {
  area[offset] = static_cast<std::uint8_t>(value & 0xFF);
  area[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}

// A well-formed header: printable maker and game code, a space padded title,
// map mode 0x20, cartridge type 0x02, ROM size 0x0A, save RAM size 0x03,
// fixed value 0x33, checksum 0x1234 with its complement, reset at 0x8000.
// Every byte the scores do not read is 0.
void writeGoodHeader(std::uint8_t* area) {
  std::memset(area, 0, kHeaderAreaSize);
  std::memcpy(area + 0x00, "01AWXE", 6);
  std::memcpy(area + 0x10, "GOOD GAME            ", 21);
  area[0x25] = 0x20;
  area[0x26] = 0x02;
  area[0x27] = 0x0A;
  area[0x28] = 0x03;
  area[0x2A] = 0x33;
  putWord(area, 0x2C, 0xEDCB);
  putWord(area, 0x2E, 0x1234);
  putWord(area, 0x4C, 0x8000);
}

// An image of exactly `size` bytes (so that a read past its end is caught by
// the address sanitizer), zero filled.
std::vector<std::uint8_t> imageOf(std::uint32_t size) { return std::vector<std::uint8_t>(size, 0); }

void placeArea(std::vector<std::uint8_t>& image, std::uint32_t offset, const std::uint8_t* area) {
  std::memcpy(image.data() + offset, area, kHeaderAreaSize);
}

// Sets every byte of the area that no scoring term reads.
void fillUnreadBytes(std::uint8_t* area) {
  const std::uint32_t read[] = {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x24, 0x25, 0x26,
                                0x27, 0x28, 0x2A, 0x2C, 0x2D, 0x2E, 0x2F, 0x4C, 0x4D};
  for (std::uint32_t i = 0; i < kHeaderAreaSize; ++i) {
    const bool isTitle = i >= 0x10 && i < 0x24;
    if (!isTitle && std::find(std::begin(read), std::end(read), i) == std::end(read)) {
      area[i] = 0xFF;
    }
  }
}

struct Scores {
  int hi;
  int lo;
};

// Scores the same area at both places of a 1 MB image.
Scores scoreAtBothPlaces(const std::uint8_t* area) {
  auto image = imageOf(0x100000);
  placeArea(image, kLoRomHeaderArea, area);
  placeArea(image, kHiRomHeaderArea, area);
  return {scoreHiRomHeader(image.data(), 0x100000), scoreLoRomHeader(image.data(), 0x100000)};
}

TEST(HeaderScore, WorkedExample) {
  auto image = imageOf(0x100000);
  Area good;
  writeGoodHeader(good);
  placeArea(image, kLoRomHeaderArea, good);
  EXPECT_EQ(scoreLoRomHeader(image.data(), 0x100000), 12);
  EXPECT_EQ(scoreHiRomHeader(image.data(), 0x100000), -7);
  const ImageClass found = classifyImage(image.data(), 0x100000);
  EXPECT_EQ(found.isHiRom, 0);
  EXPECT_EQ(found.sramKb, 8);
}

TEST(HeaderScore, EachTermAgainstAGoodHeader) {
  Area good;
  writeGoodHeader(good);
  const Scores base = scoreAtBothPlaces(good);
  // Map mode 0x20 earns LoROM 3 + 2 (terms 1, 6); both places earn the
  // checksum 2 + 1, the fixed value 2 and term 6; the padded title earns
  // HiROM 2; a 1 MB image earns LoROM 2.
  ASSERT_EQ(base.lo, 12);
  ASSERT_EQ(base.hi, 9);

  using Change = std::function<void(std::uint8_t*)>;
  const struct {
    const char* what;
    Change change;
    int hiDelta;
    int loDelta;
  } cases[] = {
      {"map mode 0x21: bit 0 set", [](std::uint8_t* a) { a[0x25] = 0x21; }, +2, -3},
      {"map mode 0x23", [](std::uint8_t* a) { a[0x25] = 0x23; }, 0, -1},
      {"map mode 0x22: low bits below 4, not 0x23", [](std::uint8_t* a) { a[0x25] = 0x22; }, 0, 0},
      {"map mode 0x24: low bits 4", [](std::uint8_t* a) { a[0x25] = 0x24; }, -2, -2},
      {"map mode 0x35: bit 0 set, low bits 5", [](std::uint8_t* a) { a[0x25] = 0x35; }, 0, -5},
      {"map mode 0x13: 0x23's low bits, not 0x23", [](std::uint8_t* a) { a[0x25] = 0x13; }, +2, -3},
      {"last title byte not a space", [](std::uint8_t* a) { a[0x24] = 'X'; }, -2, 0},
      {"checksum and complement both 0xFFFF",
       [](std::uint8_t* a) { putWord(a, 0x2C, 0xFFFF), putWord(a, 0x2E, 0xFFFF); }, -3, -3},
      {"checksum 0x0000, complement 0xFFFF",
       [](std::uint8_t* a) { putWord(a, 0x2C, 0xFFFF), putWord(a, 0x2E, 0x0000); }, -1, -1},
      {"checksum 0xFFFF, complement 0x0000",
       [](std::uint8_t* a) { putWord(a, 0x2C, 0x0000), putWord(a, 0x2E, 0xFFFF); }, 0, 0},
      {"complement off by one", [](std::uint8_t* a) { putWord(a, 0x2C, 0xEDCC); }, -3, -3},
      {"fixed value 0x00", [](std::uint8_t* a) { a[0x2A] = 0x00; }, -2, -2},
      {"reset 0x7FFF: high byte 0x7F", [](std::uint8_t* a) { putWord(a, 0x4C, 0x7FFF); }, -6, -6},
      {"reset 0x807F", [](std::uint8_t* a) { putWord(a, 0x4C, 0x807F); }, 0, 0},
      {"reset 0x0000", [](std::uint8_t* a) { putWord(a, 0x4C, 0x0000); }, -6, -6},
      {"reset 0xFFB0", [](std::uint8_t* a) { putWord(a, 0x4C, 0xFFB0); }, 0, 0},
      {"reset 0xFFB1", [](std::uint8_t* a) { putWord(a, 0x4C, 0xFFB1); }, -2, -2},
      {"reset 0xB1FF", [](std::uint8_t* a) { putWord(a, 0x4C, 0xB1FF); }, 0, 0},
      {"maker code byte 0x1F", [](std::uint8_t* a) { a[0x00] = 0x1F; }, -1, -1},
      {"game code byte 0x7F", [](std::uint8_t* a) { a[0x05] = 0x7F; }, -1, -1},
      {"maker code 0x20, 0x7E", [](std::uint8_t* a) { a[0x00] = 0x20, a[0x01] = 0x7E; }, 0, 0},
      {"all six code bytes bad", [](std::uint8_t* a) { std::memset(a, 0x00, 6); }, -1, -1},
      {"first title byte 0x80", [](std::uint8_t* a) { a[0x10] = 0x80; }, -1, -1},
      {"twentieth title byte 0x19", [](std::uint8_t* a) { a[0x23] = 0x19; }, -1, -1},
      {"last title byte 0x00: outside the printable test", [](std::uint8_t* a) { a[0x24] = 0x00; },
       -2, 0},
      {"all title bytes bad", [](std::uint8_t* a) { std::memset(a + 0x10, 0xFF, 20); }, -1, -1},
      {"codes and title bad", [](std::uint8_t* a) { a[0x02] = 0x01, a[0x11] = 0x01; }, -2, -2},
      {"every byte no term reads 0xFF", fillUnreadBytes, 0, 0},
      {"cartridge type 0, save RAM size 0xFF", [](std::uint8_t* a) { a[0x26] = 0, a[0x28] = 0xFF; },
       0, 0},
  };
  for (const auto& c : cases) {
    Area area;
    writeGoodHeader(area);
    c.change(area);
    const Scores got = scoreAtBothPlaces(area);
    EXPECT_EQ(got.hi, base.hi + c.hiDelta) << c.what;
    EXPECT_EQ(got.lo, base.lo + c.loDelta) << c.what;
  }
}

TEST(HeaderScore, RomSizeByteTermRepeatsEvery32) {
  const struct {
    std::uint8_t r;
    bool penalised;
  } cases[] = {
      {0, true},  {5, true},   {6, false},  {7, false}, {10, false}, {12, false},  {13, true},
      {37, true}, {38, false}, {44, false}, {45, true}, {70, false}, {0xFF, true},
  };
  Area good;
  writeGoodHeader(good);
  const Scores base = scoreAtBothPlaces(good);
  for (const auto& c : cases) {
    Area area;
    writeGoodHeader(area);
    area[0x27] = c.r;
    const Scores got = scoreAtBothPlaces(area);
    const int expected = c.penalised ? -1 : 0;
    EXPECT_EQ(got.hi - base.hi, expected) << "r = " << int{c.r};
    EXPECT_EQ(got.lo - base.lo, expected) << "r = " << int{c.r};
  }
}

TEST(HeaderScore, SizeTermsSplitAt2MB) {
  Area good;
  writeGoodHeader(good);
  for (std::uint32_t size : {0x10000u, 0x200000u, 0x200001u, 0x400000u}) {
    auto image = imageOf(size);
    placeArea(image, kLoRomHeaderArea, good);
    placeArea(image, kHiRomHeaderArea, good);
    const bool large = size > 0x200000;
    EXPECT_EQ(scoreHiRomHeader(image.data(), size), 9 + (large ? 4 : 0)) << size;
    EXPECT_EQ(scoreLoRomHeader(image.data(), size), 12 - (large ? 2 : 0)) << size;
  }
}

// A 1 MB image whose HiROM place holds the good header (H = 9, 2 kB of save
// RAM) and whose LoROM place holds the good header weakened down to the
// given score (8 kB of save RAM).
std::vector<std::uint8_t> imageWithLoRomScore(int lo) {
  auto image = imageOf(0x100000);
  Area hi;
  writeGoodHeader(hi);
  hi[0x28] = 0x01;
  placeArea(image, kHiRomHeaderArea, hi);
  Area area;
  writeGoodHeader(area);                                                  // 12
  if (lo <= 10) area[0x2A] = 0x00;                                        // 10
  if (lo <= 9) putWord(area, 0x2C, 0xFFFF), putWord(area, 0x2E, 0x0000);  // 9
  if (lo <= 8) area[0x00] = 0x00;                                         // 8
  if (lo <= 7) area[0x10] = 0x00;                                         // 7
  placeArea(image, kLoRomHeaderArea, area);
  return image;
}

TEST(HeaderScore, ClassifyPicksTheBetterPlaceAndATieIsLoRom) {
  const struct {
    int lo;
    std::uint8_t isHiRom;
    int sramKb;
  } cases[] = {{12, 0, 8}, {10, 0, 8}, {9, 0, 8}, {8, 1, 2}, {7, 1, 2}};
  for (const auto& c : cases) {
    const auto image = imageWithLoRomScore(c.lo);
    ASSERT_EQ(scoreHiRomHeader(image.data(), 0x100000), 9);
    ASSERT_EQ(scoreLoRomHeader(image.data(), 0x100000), c.lo);
    const ImageClass found = classifyImage(image.data(), 0x100000);
    EXPECT_EQ(found.isHiRom, c.isHiRom) << "L = " << c.lo;
    EXPECT_EQ(found.sramKb, c.sramKb) << "L = " << c.lo;
  }
}

TEST(HeaderScore, SaveRamTable) {
  const struct {
    std::uint8_t cartridgeType;
    std::uint8_t saveRamSize;
    int kb;
  } cases[] = {
      {0x00, 0x00, 0},  {0x00, 0x03, 0},  {0x00, 0xFF, 0}, {0x02, 0x00, 0},
      {0x02, 0x01, 2},  {0x02, 0x02, 8},  {0x02, 0x03, 8}, {0x02, 0x04, 32},
      {0x02, 0x05, 32}, {0xFF, 0xFF, 32}, {0x01, 0x01, 2},
  };
  for (const auto& c : cases) {
    Area area{};
    area[0x26] = c.cartridgeType;
    area[0x28] = c.saveRamSize;
    EXPECT_EQ(saveRamKbFromHeader(area), c.kb)
        << "type " << int{c.cartridgeType} << ", size " << int{c.saveRamSize};
  }
}

// Images too short for a header place: the place is no candidate and nothing
// past the end is read (every buffer is exactly the image's size).
TEST(HeaderScore, ShortImagesAreScoredInsideTheImage) {
  // A LoROM place of 9 asking for 8 kB, and a HiROM place of 11 asking for 2 kB.
  Area weak;
  writeGoodHeader(weak);
  weak[0x2A] = 0x00;
  weak[0x10] = 0x00;
  Area strongHi;
  writeGoodHeader(strongHi);
  strongHi[0x25] = 0x21;
  strongHi[0x28] = 0x01;

  for (std::uint32_t size : {0u, 1u, 0x7FB0u, 0x7FFFu}) {
    auto image = imageOf(size);
    EXPECT_EQ(scoreLoRomHeader(image.data(), size), kNoHeaderScore) << size;
    EXPECT_EQ(scoreHiRomHeader(image.data(), size), kNoHeaderScore) << size;
    const ImageClass found = classifyImage(image.data(), size);
    EXPECT_EQ(found.isHiRom, 0) << size;
    EXPECT_EQ(found.sramKb, 0) << size;
  }
  EXPECT_EQ(classifyImage(nullptr, 0).isHiRom, 0);

  // Between 32 KB and 64 KB only the LoROM place counts, however plausible
  // the bytes where the HiROM place begins.
  for (std::uint32_t size : {0x8000u, 0xFFB0u, 0xFFFFu}) {
    auto image = imageOf(size);
    placeArea(image, kLoRomHeaderArea, weak);
    if (size > kHiRomHeaderArea) {
      std::memcpy(image.data() + kHiRomHeaderArea, strongHi, size - kHiRomHeaderArea);
    }
    EXPECT_EQ(scoreLoRomHeader(image.data(), size), 9) << size;
    EXPECT_EQ(scoreHiRomHeader(image.data(), size), kNoHeaderScore) << size;
    const ImageClass found = classifyImage(image.data(), size);
    EXPECT_EQ(found.isHiRom, 0) << size;
    EXPECT_EQ(found.sramKb, 8) << size;
  }

  // From 64 KB the HiROM place is a candidate.
  auto image = imageOf(0x10000);
  placeArea(image, kLoRomHeaderArea, weak);
  placeArea(image, kHiRomHeaderArea, strongHi);
  EXPECT_EQ(scoreLoRomHeader(image.data(), 0x10000), 9);
  EXPECT_EQ(scoreHiRomHeader(image.data(), 0x10000), 11);
  const ImageClass found = classifyImage(image.data(), 0x10000);
  EXPECT_EQ(found.isHiRom, 1);
  EXPECT_EQ(found.sramKb, 2);
}

}  // namespace
}  // namespace romwright
