// A small made-up ROM image for trying the programs out: a valid internal
// header in the LoROM or the HiROM place, so that the flash tool's header
// scoring picks that map mode, a tiny program at the reset vector, and
// varied filler so that a block landing in the wrong place shows.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vprog {

// Fills bytes with a fixed xorshift sequence from seed: varied contents that
// repeat exactly from run to run.
void fillPseudoRandom(std::vector<std::uint8_t>& bytes, std::uint32_t seed);

struct DemoRomOptions {
  bool hiRom = false;
  std::uint32_t sizeKb = 256;  // a power of two, 64 to 4096
  std::uint32_t sramKb = 8;    // 0, 2, 8 or 32
  std::string title = "CARTSIM DEMO";  // printable ASCII, at most 21 characters
};

// Offsets of the header area in the image and of fields within the area.
inline constexpr std::uint32_t kLoRomHeaderAt = 0x7FB0;
inline constexpr std::uint32_t kHiRomHeaderAt = 0xFFB0;
inline constexpr std::uint32_t kHeaderMakerCode = 0x00;
inline constexpr std::uint32_t kHeaderGameCode = 0x02;
inline constexpr std::uint32_t kHeaderTitle = 0x10;
inline constexpr std::uint32_t kHeaderTitleLength = 21;
inline constexpr std::uint32_t kHeaderMapMode = 0x25;
inline constexpr std::uint32_t kHeaderCartType = 0x26;
inline constexpr std::uint32_t kHeaderRomSize = 0x27;
inline constexpr std::uint32_t kHeaderSramSize = 0x28;
inline constexpr std::uint32_t kHeaderFixed33 = 0x2A;
inline constexpr std::uint32_t kHeaderComplement = 0x2C;
inline constexpr std::uint32_t kHeaderChecksum = 0x2E;
inline constexpr std::uint32_t kHeaderResetVector = 0x4C;
inline constexpr std::uint32_t kHeaderAreaLength = 0x50;

// Fills image; false with a message in error when an option is out of range.
bool makeDemoRom(const DemoRomOptions& options, std::vector<std::uint8_t>& image, std::string& error);

// The 16-bit sum of all bytes of an image, as the header's checksum holds it.
std::uint16_t romChecksum(const std::vector<std::uint8_t>& image);

}  // namespace vprog
