// Decides from an image's internal header whether it is laid out for the
// LoROM or the HiROM window, and how much save RAM it wants.
#pragma once

#include <cstdint>

namespace romwright {

inline constexpr std::uint32_t kLoRomHeaderArea = 0x7FB0;
inline constexpr std::uint32_t kHiRomHeaderArea = 0xFFB0;
inline constexpr std::uint32_t kHeaderAreaSize = 80;

int scoreHiRomHeader(const std::uint8_t* image, std::uint32_t size);
int scoreLoRomHeader(const std::uint8_t* image, std::uint32_t size);
// area points at the 80-byte header area; gives 0, 2, 8 or 32.
int saveRamKbFromHeader(const std::uint8_t* area);

struct ImageClass {
  std::uint8_t isHiRom;
  std::int32_t sramKb;
};
ImageClass classifyImage(const std::uint8_t* image, std::uint32_t size);

}  // namespace romwright
