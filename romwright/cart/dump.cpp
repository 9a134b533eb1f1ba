#include "romwright/cart/dump.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "cartlink/cartlink.h"
#include "romwright/cart/output_file.h"
#include "romwright/cart/rom_window.h"

namespace romwright {
namespace {

// Control byte while the ROM window is read, and the resting value after.
constexpr std::uint8_t kControlRom = 0x01;
constexpr std::uint8_t kControlRest = 0x00;
constexpr int kChunkKb = 32;

bool isCheckPoint(int chunkStartKb) {
  return std::find(std::begin(kDumpCheckPointsKb), std::end(kDumpCheckPointsKb), chunkStartKb) !=
         std::end(kDumpCheckPointsKb);
}

// A board answers unconnected address lines with 0x00 or 0xFF, so a position
// holding either in the later chunk tells nothing and counts as agreeing.
bool repeatsFirstChunk(const std::vector<std::uint8_t>& chunk,
                       const std::vector<std::uint8_t>& first) {
  for (std::size_t i = 0; i < chunk.size(); ++i) {
    std::uint8_t b = chunk[i];
    if (b != first[i] && b != 0x00 && b != 0xFF) return false;
  }
  return true;
}

}  // namespace

int dumpRom(CartSession& session, const char* path, int limitKb) {
  cartlink::DeviceLink& link = *session.link;
  std::printf("Reading ROM...\n");
  OutputFile file;
  if (!createOutputFile(file, path)) {
    std::printf("ERROR: Could not open %s\n", path);
    return -1;
  }

  std::vector<std::uint8_t> chunk(cartlink::kChunkSize);
  std::vector<std::uint8_t> first;
  if (limitKb == 0) first.resize(cartlink::kChunkSize);

  cartlink::setControl(link, kControlRom);
  int kb = 0;
  bool writeFailed = false;
  for (std::uint32_t n = 0; n < kRomWindowChunks && !link.ioFailed; ++n) {
    cartlink::readBlocks(link, romWindowAddress(session.isHiRom != 0, n), cartlink::kChunkBlocks,
                         chunk.data());
    if (link.ioFailed) break;
    kb += kChunkKb;
    if (limitKb == 0) {
      if (n == 0) first = chunk;
      if (isCheckPoint(kb - kChunkKb) && repeatsFirstChunk(chunk, first)) {
        kb -= kChunkKb;
        break;
      }
    }
    if (!writeOutputFile(file, chunk.data(), chunk.size())) {
      writeFailed = true;
      break;
    }
    std::printf(".");
    std::fflush(stdout);
    if (limitKb > 0 && kb >= limitKb) break;
  }
  cartlink::setControl(link, kControlRest);

  if (link.ioFailed) {
    abandonOutputFile(file);
    std::printf("\n");
    return -1;
  }
  if (writeFailed || !finishOutputFile(file)) {
    abandonOutputFile(file);
    std::printf("\nERROR: Could not write %s\n", path);
    return -1;
  }
  std::printf("\nRead %d kB\n", kb);
  return kb;
}

}  // namespace romwright
