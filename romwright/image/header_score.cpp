#include "romwright/image/header_score.h"

namespace romwright {

int scoreHiRomHeader(const std::uint8_t*, std::uint32_t) { return 0; }
int scoreLoRomHeader(const std::uint8_t*, std::uint32_t) { return 0; }
int saveRamKbFromHeader(const std::uint8_t*) { return 0; }
ImageClass classifyImage(const std::uint8_t*, std::uint32_t) { return {0, 0}; }

}  // namespace romwright
