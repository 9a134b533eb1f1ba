#include "romwright/cart/verify.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "cartlink/cartlink.h"
#include "romwright/cart/rom_window.h"

namespace romwright {
namespace {

constexpr std::uint8_t kControlRom = 0x01;
constexpr std::uint8_t kControlRest = 0x00;

}  // namespace

bool verifyCartridge(RomImage& image, CartSession& session) {
  cartlink::DeviceLink& link = *session.link;
  std::printf("Verifying...\n");
  startHandOut(image);
  const std::uint32_t chunks = std::min(chunkCount(image), kRomWindowChunks);

  std::vector<std::uint8_t> cart(cartlink::kChunkSize);
  // Starts as erased flash, the same bytes the flash write's staging buffer
  // starts with, for the part of a short image's only chunk that it does not fill.
  std::vector<std::uint8_t> expected(cartlink::kChunkSize, kBlankByte);

  cartlink::setControl(link, kControlRom);
  bool equal = true;
  for (std::uint32_t n = 0; n < chunks && !link.ioFailed; ++n) {
    cartlink::readBlocks(link, romWindowAddress(session.isHiRom != 0, n), cartlink::kChunkBlocks,
                         cart.data());
    if (link.ioFailed) break;
    takeChunk(image, expected.data());
    if (std::memcmp(cart.data(), expected.data(), cart.size()) != 0) {
      std::printf("X");
      equal = false;
      break;
    }
    std::printf(".");
    std::fflush(stdout);
  }
  cartlink::setControl(link, kControlRest);

  if (link.ioFailed) {
    std::printf("\n");
    return false;
  }
  std::printf(equal ? "\nGOOD\n" : "\nFailed!\n");
  return equal;
}

}  // namespace romwright
