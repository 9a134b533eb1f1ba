#include "romwright/image/header_score.h"

namespace romwright {

namespace {

// Offsets of the fields read, from the start of the 80-byte area.
constexpr std::uint32_t kMakerAndGameCode = 0x00;  // 2 + 4 ASCII bytes
constexpr std::uint32_t kMakerAndGameCodeLength = 6;
constexpr std::uint32_t kTitle = 0x10;  // 21 ASCII bytes, space padded
constexpr std::uint32_t kTitleCheckedLength = 20;
constexpr std::uint32_t kLastTitleByte = 0x24;
constexpr std::uint32_t kMapMode = 0x25;
constexpr std::uint32_t kCartridgeType = 0x26;
constexpr std::uint32_t kRomSize = 0x27;
constexpr std::uint32_t kSaveRamSize = 0x28;
constexpr std::uint32_t kFixedValue = 0x2A;  // 0x33 when maker and game code are present
constexpr std::uint32_t kChecksumComplement = 0x2C;
constexpr std::uint32_t kChecksum = 0x2E;
constexpr std::uint32_t kResetVector = 0x4C;  // emulation mode

// LoROM images rarely exceed 2 MB; larger ones are nearly always HiROM.
constexpr std::uint32_t kLargeImage = 0x200000;

bool holdsArea(std::uint32_t size, std::uint32_t areaOffset) {
  return size >= areaOffset + kHeaderAreaSize;
}

unsigned word(const std::uint8_t* area, std::uint32_t offset) {
  return area[offset] | (unsigned{area[offset + 1]} << 8);
}

bool allPrintable(const std::uint8_t* bytes, std::uint32_t count) {
  for (std::uint32_t i = 0; i < count; ++i) {
    if (bytes[i] < 0x20 || bytes[i] > 0x7E) return false;
  }
  return true;
}

// A ROM-size byte counts 2^r kB; the test asks whether 1 << (r - 7), taken
// as a signed 32-bit shift with the count modulo 32, exceeds 48. A count of
// 31 lands on the sign bit and so passes, like every count up to 5.
bool romSizeImplausible(std::uint8_t r) {
  const unsigned shift = (unsigned{r} - 7u) & 31u;
  return shift >= 6 && shift <= 30;
}

// The terms both places share.
int commonTerms(const std::uint8_t* area) {
  int score = 0;
  const unsigned complement = word(area, kChecksumComplement);
  const unsigned checksum = word(area, kChecksum);
  if (complement + checksum == 0xFFFF) {
    score += 2;
    if (checksum != 0) score += 1;
  }
  if (area[kFixedValue] == 0x33) score += 2;
  if ((area[kMapMode] & 0x0F) < 4) score += 2;
  const unsigned reset = word(area, kResetVector);
  // Code starts in the upper half of bank 0; a vector into the header and
  // interrupt vectors themselves is no entry point either.
  if ((reset >> 8) < 0x80) score -= 6;
  if (reset > 0xFFB0) score -= 2;
  if (romSizeImplausible(area[kRomSize])) score -= 1;
  if (!allPrintable(area + kMakerAndGameCode, kMakerAndGameCodeLength)) score -= 1;
  if (!allPrintable(area + kTitle, kTitleCheckedLength)) score -= 1;
  return score;
}

}  // namespace

int scoreHiRomHeader(const std::uint8_t* image, std::uint32_t size) {
  if (!holdsArea(size, kHiRomHeaderArea)) return kNoHeaderScore;
  const std::uint8_t* area = image + kHiRomHeaderArea;
  int score = commonTerms(area);
  if (area[kMapMode] & 0x01) score += 2;
  if (area[kMapMode] == 0x23) score -= 2;
  if (area[kLastTitleByte] == 0x20) score += 2;
  if (size > kLargeImage) score += 4;
  return score;
}

int scoreLoRomHeader(const std::uint8_t* image, std::uint32_t size) {
  if (!holdsArea(size, kLoRomHeaderArea)) return kNoHeaderScore;
  const std::uint8_t* area = image + kLoRomHeaderArea;
  int score = commonTerms(area);
  if ((area[kMapMode] & 0x01) == 0) score += 3;
  if (area[kMapMode] == 0x23) score += 2;
  if (size <= kLargeImage) score += 2;
  return score;
}

int saveRamKbFromHeader(const std::uint8_t* area) {
  if (area[kCartridgeType] == 0) return 0;
  switch (area[kSaveRamSize]) {
    case 0:
      return 0;
    case 1:
      return 2;
    case 2:
    case 3:
      return 8;
    default:
      return 32;
  }
}

ImageClass classifyImage(const std::uint8_t* image, std::uint32_t size) {
  if (!holdsArea(size, kLoRomHeaderArea)) return {0, 0};
  const bool hiRom = holdsArea(size, kHiRomHeaderArea) &&
                     scoreHiRomHeader(image, size) > scoreLoRomHeader(image, size);
  const std::uint8_t* area = image + (hiRom ? kHiRomHeaderArea : kLoRomHeaderArea);
  return {static_cast<std::uint8_t>(hiRom ? 1 : 0), saveRamKbFromHeader(area)};
}

}  // namespace romwright
