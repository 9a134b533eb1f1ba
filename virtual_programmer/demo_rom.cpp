#include "virtual_programmer/demo_rom.h"

#include <algorithm>

namespace vprog {

void fillPseudoRandom(std::vector<std::uint8_t>& bytes, std::uint32_t seed) {
  std::uint32_t state = seed;
  for (std::uint8_t& b : bytes) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    b = static_cast<std::uint8_t>(state >> 24);
  }
}
namespace {

// 65816 code at 00:8000: disable interrupts, switch to native mode and spin.
// Interrupts that come anyway return at once from 00:8010.
constexpr std::uint8_t kResetCode[] = {
    0x78,        // SEI
    0x18,        // CLC
    0xFB,        // XCE
    0x80, 0xFE,  // BRA to itself
};
constexpr std::uint8_t kInterruptCode[] = {0x40};  // RTI
constexpr std::uint16_t kResetAddress = 0x8000;
constexpr std::uint16_t kInterruptAddress = 0x8010;

bool isPowerOfTwo(std::uint32_t v) { return v != 0 && (v & (v - 1)) == 0; }

void put16(std::vector<std::uint8_t>& image, std::uint32_t at, std::uint16_t v) {
  image[at] = static_cast<std::uint8_t>(v);
  image[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

}  // namespace

std::uint16_t romChecksum(const std::vector<std::uint8_t>& image) {
  std::uint32_t sum = 0;
  for (std::uint8_t b : image) sum += b;
  return static_cast<std::uint16_t>(sum);
}

bool makeDemoRom(const DemoRomOptions& options, std::vector<std::uint8_t>& image, std::string& error) {
  if (!isPowerOfTwo(options.sizeKb) || options.sizeKb < 64 || options.sizeKb > 4096) {
    error = "the ROM size must be a power of two from 64 to 4096 KB";
    return false;
  }
  std::uint8_t sramSizeByte = 0;
  switch (options.sramKb) {
    case 0: sramSizeByte = 0; break;
    case 2: sramSizeByte = 1; break;
    case 8: sramSizeByte = 3; break;
    case 32: sramSizeByte = 5; break;
    default:
      error = "the save RAM size must be 0, 2, 8 or 32 KB";
      return false;
  }
  if (options.title.size() > kHeaderTitleLength) {
    error = "the title is longer than 21 characters";
    return false;
  }
  for (char c : options.title) {
    if (c < 0x20 || c > 0x7E) {
      error = "the title must be printable ASCII";
      return false;
    }
  }

  const std::uint32_t size = options.sizeKb * 1024;
  image.assign(size, 0);
  fillPseudoRandom(image, 0x2545F491u);

  // 00:8000 is the image's first byte in LoROM and offset 0x8000 in HiROM.
  const std::uint32_t codeAt = options.hiRom ? 0x8000 : 0x0000;
  std::copy(std::begin(kResetCode), std::end(kResetCode), image.begin() + codeAt);
  std::copy(std::begin(kInterruptCode), std::end(kInterruptCode),
            image.begin() + codeAt + (kInterruptAddress - kResetAddress));

  // The header place of the other map mode is left blank so that its score
  // stays far below.
  const std::uint32_t area = options.hiRom ? kHiRomHeaderAt : kLoRomHeaderAt;
  const std::uint32_t otherArea = options.hiRom ? kLoRomHeaderAt : kHiRomHeaderAt;
  std::fill_n(image.begin() + otherArea, kHeaderAreaLength, std::uint8_t{0});
  std::fill_n(image.begin() + area, kHeaderAreaLength, std::uint8_t{0});

  const char maker[] = "ZZ";
  const char game[] = "DEMO";
  std::copy_n(maker, 2, image.begin() + area + kHeaderMakerCode);
  std::copy_n(game, 4, image.begin() + area + kHeaderGameCode);
  std::fill_n(image.begin() + area + kHeaderTitle, kHeaderTitleLength, std::uint8_t{' '});
  std::copy(options.title.begin(), options.title.end(), image.begin() + area + kHeaderTitle);
  image[area + kHeaderMapMode] = options.hiRom ? 0x21 : 0x20;  // slow ROM, no coprocessor
  image[area + kHeaderCartType] = options.sramKb == 0 ? 0x00 : 0x02;  // ROM, or ROM + battery RAM
  std::uint8_t romSizeByte = 0;
  while ((1u << romSizeByte) < options.sizeKb) ++romSizeByte;
  image[area + kHeaderRomSize] = romSizeByte;  // 1 KB shifted left by it
  image[area + kHeaderSramSize] = sramSizeByte;
  image[area + 0x29] = 0x01;  // destination: North America
  image[area + kHeaderFixed33] = 0x33;
  image[area + 0x2B] = 0x00;  // version

  // Every vector word of the area (native 0x30 to 0x3F, emulation 0x40 to
  // 0x4F) points at the RTI, the emulation-mode reset at the code.
  for (std::uint32_t v = 0x30; v < kHeaderAreaLength; v += 2) put16(image, area + v, kInterruptAddress);
  put16(image, area + kHeaderResetVector, kResetAddress);

  // A checksum and its complement always add two bytes of 0xFF each to the
  // sum, so the sum is taken with a placeholder pair that does the same.
  put16(image, area + kHeaderComplement, 0xFFFF);
  put16(image, area + kHeaderChecksum, 0x0000);
  std::uint16_t checksum = romChecksum(image);
  put16(image, area + kHeaderComplement, static_cast<std::uint16_t>(~checksum));
  put16(image, area + kHeaderChecksum, checksum);
  return true;
}

}  // namespace vprog
