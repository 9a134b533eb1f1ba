// A ROM image in memory, loaded from a file, with the map mode and save RAM
// size its internal header suggests.
#pragma once

#include <cstdint>
#include <vector>

namespace romwright {

inline constexpr std::uint32_t kMaxImageSize = 0x400000;  // 4 MB, the flash chip's size
inline constexpr std::uint32_t kCopierHeaderSize = 512;
// The unit in which the flash write and the verify take the image.
inline constexpr std::uint32_t kImageChunkSize = 0x8000;
// An erased flash byte. A mirrored image holds it wherever the repetition
// leaves off, and consumers fill their chunk buffers with it before the first
// chunk, so the flash write and the verify see the same bytes past the image.
inline constexpr std::uint8_t kBlankByte = 0xFF;

struct RomImage {
  std::vector<std::uint8_t> data;  // holds `size` bytes
  std::uint32_t size = 0;
  std::uint32_t cursor = 0;  // next byte to hand out in chunks
  std::int32_t sramKb = 0;   // 0, 2, 8 or 32, from the header
  std::uint8_t hadCopierHeader = 0;
  std::uint8_t isHiRom = 1;  // 1 = HiROM, 0 = LoROM, from the header scores
  std::uint8_t mirrored = 0;
};

// Loads a ROM file: drops a copier header when bit 9 of the length says there
// is one, refuses more than 4 MB of data, mirrors up to 4 MB on request, and
// classifies the image. Prints its own error lines; returns false on failure
// with the image unchanged. A path that is not a regular file, or whose data
// cannot be read whole, fails like a file that cannot be opened.
bool loadRomFile(const char* path, bool mirror, RomImage& image);

// Repeats the first bytesRead bytes of a 4 MB buffer in place the way a
// cartridge board mirrors a smaller ROM: each set bit of the length from
// 32 KB upwards doubles the filled part's tail. Whatever stays unfilled (a
// length that is not a multiple of 32 KB stops short of 4 MB) is set to
// kBlankByte. A buffer shorter than 4 MB is first extended to 4 MB.
void mirrorImage(RomImage& image, std::uint32_t bytesRead);

// The hand-out of an image in 32 KB chunks to the flash write and the verify:
// startHandOut once per operation, then takeChunk per chunk, which copies up
// to 32 KB from the cursor into the start of the consumer's buffer (the rest
// of the buffer keeps what it held, so after a short last chunk its tail
// still holds the previous chunk's bytes). Nothing is copied once the cursor
// has reached the end.
void startHandOut(RomImage& image);
void takeChunk(RomImage& image, std::uint8_t* chunk);
// How many chunks a consumer processes so that every image byte is taken:
// the image size in kB rounded up, in whole chunks rounded up, at least one
// (1 MB + 100 bytes is 33 chunks; an empty image still one).
std::uint32_t chunkCount(const RomImage& image);

}  // namespace romwright
