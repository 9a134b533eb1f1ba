#include "romwright/image/rom_image.h"

namespace romwright {

bool loadRomFile(const char*, bool, RomImage&) { return false; }
void mirrorImage(RomImage&, std::uint32_t) {}
void startHandOut(RomImage& image) {
  if (image.size > 0) image.cursor = 0;
}
void takeChunk(RomImage&, std::uint8_t*) {}
std::uint32_t chunkCount(const RomImage&) { return 1; }

}  // namespace romwright
