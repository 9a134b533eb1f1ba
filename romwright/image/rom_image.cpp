#include "romwright/image/rom_image.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "romwright/image/header_score.h"

namespace romwright {

namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// Bit 9 of a file's length: image data comes in whole kilobytes, so an odd
// half kilobyte is the 512-byte header a backup copier puts in front.
constexpr std::uint64_t kCopierHeaderBit = 0x200;

bool readWhole(std::FILE* file, long start, std::uint8_t* out, std::uint32_t count) {
  if (std::fseek(file, start, SEEK_SET) != 0) return false;
  if (count == 0) return true;
  if (std::fread(out, 1, count, file) != count) return false;
  return std::ferror(file) == 0;
}

}  // namespace

bool loadRomFile(const char* path, bool mirror, RomImage& image) {
  File file(std::fopen(path, "rb"));
  struct stat info {};
  if (!file || fstat(fileno(file.get()), &info) != 0 || !S_ISREG(info.st_mode)) {
    std::printf("ERROR: Could not open %s\n", path);
    return false;
  }
  const auto length = static_cast<std::uint64_t>(info.st_size);
  const bool copierHeader = (length & kCopierHeaderBit) != 0;
  const std::uint64_t dataLength = copierHeader ? length - kCopierHeaderSize : length;
  if (dataLength > kMaxImageSize) {
    std::printf("ERROR: Files larger then 4MB are not supported\n");
    return false;
  }
  const auto n = static_cast<std::uint32_t>(dataLength);

  RomImage loaded;
  loaded.hadCopierHeader = copierHeader ? 1 : 0;
  loaded.mirrored = mirror ? 1 : 0;
  loaded.size = mirror ? kMaxImageSize : n;
  loaded.data.assign(loaded.size, kBlankByte);
  if (!readWhole(file.get(), copierHeader ? long{kCopierHeaderSize} : 0L, loaded.data.data(), n)) {
    std::printf("ERROR: Could not open %s\n", path);
    return false;
  }
  file.reset();
  if (mirror) mirrorImage(loaded, n);

  const ImageClass found = classifyImage(loaded.data.data(), loaded.size);
  loaded.isHiRom = found.isHiRom;
  loaded.sramKb = found.sramKb;
  image = std::move(loaded);
  return true;
}

void mirrorImage(RomImage& image, std::uint32_t bytesRead) {
  if (image.data.size() < kMaxImageSize) image.data.resize(kMaxImageSize, kBlankByte);
  std::uint8_t* data = image.data.data();
  std::uint32_t filled = std::min(bytesRead, kMaxImageSize);
  for (std::uint32_t block = kImageChunkSize; filled + block <= kMaxImageSize; block <<= 1) {
    if ((filled & block) != 0) {
      std::memcpy(data + filled, data + filled - block, block);
      filled += block;
    }
  }
  std::fill(data + filled, data + kMaxImageSize, kBlankByte);
}

void startHandOut(RomImage& image) {
  if (image.size > 0) image.cursor = 0;
}

void takeChunk(RomImage& image, std::uint8_t* chunk) {
  if (image.cursor >= image.size) return;
  const std::uint32_t count = std::min(kImageChunkSize, image.size - image.cursor);
  std::memcpy(chunk, image.data.data() + image.cursor, count);
  image.cursor += count;
}

std::uint32_t chunkCount(const RomImage& image) {
  // Whole kilobytes rounded up, then whole chunks rounded up: the same as
  // rounding the byte count up to chunks.
  const std::uint32_t targetKb = image.size / 1024 + (image.size % 1024 != 0 ? 1 : 0);
  const std::uint32_t chunkKb = kImageChunkSize / 1024;
  return std::max<std::uint32_t>(1, (targetKb + chunkKb - 1) / chunkKb);
}

}  // namespace romwright
