// Decides from an image's internal header whether it is laid out for the
// LoROM or the HiROM window, and how much save RAM it wants.
#pragma once

#include <climits>
#include <cstdint>

namespace romwright {

inline constexpr std::uint32_t kLoRomHeaderArea = 0x7FB0;
inline constexpr std::uint32_t kHiRomHeaderArea = 0xFFB0;
inline constexpr std::uint32_t kHeaderAreaSize = 80;

// The score of a header area that does not lie wholly inside the image: such
// a place is no candidate and loses to any real score.
inline constexpr int kNoHeaderScore = INT_MIN;

// Plausibility scores of the area at 0xFFB0 and at 0x7FB0; the image size
// takes part (a large image leans towards HiROM). kNoHeaderScore when the
// image is too short to hold the area; nothing outside the image is read.
int scoreHiRomHeader(const std::uint8_t* image, std::uint32_t size);
int scoreLoRomHeader(const std::uint8_t* image, std::uint32_t size);
// area points at the 80-byte header area; gives 0, 2, 8 or 32.
int saveRamKbFromHeader(const std::uint8_t* area);

struct ImageClass {
  std::uint8_t isHiRom;
  std::int32_t sramKb;
};
// HiROM only when the image holds the whole HiROM area and its score beats
// the LoROM one (a tie is LoROM); the save RAM size comes from the chosen
// area. An image too short for either area is LoROM without save RAM.
ImageClass classifyImage(const std::uint8_t* image, std::uint32_t size);

}  // namespace romwright
