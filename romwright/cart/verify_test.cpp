#include "romwright/cart/verify.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "romwright/cart/testing/cart_bench.h"

namespace romwright {
namespace {

using platform::testing::CallKind;
using platform::testing::callsOf;
using testing::CartBench;
using testing::distinctRom;

constexpr std::size_t KB = 1024;
constexpr std::size_t kChunk = 32 * KB;

RomImage imageOf(const std::vector<std::uint8_t>& bytes) {
  RomImage image;
  image.data = bytes;
  image.size = static_cast<std::uint32_t>(bytes.size());
  image.cursor = 12345;  // left over from an earlier hand-out
  return image;
}

struct VerifyResult {
  bool equal;
  std::string out;
  std::size_t chunksRead;
};

VerifyResult verify(CartBench& bench, RomImage image) {
  ::testing::internal::CaptureStdout();
  bool equal = verifyCartridge(image, bench.session);
  std::string out = ::testing::internal::GetCapturedStdout();
  return {equal, out, callsOf(bench.fake, CallKind::Read).size()};
}

std::string verdict(std::size_t dots, const std::string& end) {
  return "Verifying...\n" + std::string(dots, '.') + end;
}

TEST(VerifyCartridge, AMatchingCartridgeIsGoodInEitherWindow) {
  for (bool hiRom : {false, true}) {
    SCOPED_TRACE(hiRom ? "HiROM" : "LoROM");
    CartBench bench(hiRom);
    bench.cart.rom = distinctRom(1024 * KB);
    auto result = verify(bench, imageOf(bench.cart.rom));
    EXPECT_TRUE(result.equal);
    EXPECT_EQ(result.out, verdict(32, "\nGOOD\n"));
    EXPECT_EQ(result.chunksRead, 32u);
    // Control 0x01, 32 chunks of 32 single block reads, control 0x00.
    auto writes = callsOf(bench.fake, CallKind::Write);
    ASSERT_EQ(writes.size(), 2u + 32 * 32);
    EXPECT_EQ(writes.front().bytes, platform::testing::bytesOf({0x43, 0x01}));
    EXPECT_EQ(writes.back().bytes, platform::testing::bytesOf({0x43, 0x00}));
    EXPECT_EQ(bench.cart.blockReads.back(), hiRom ? 0x4FFC00u : 0x1FFC00u);
  }
}

TEST(VerifyCartridge, TheFirstDifferenceEndsTheComparison) {
  CartBench bench;
  bench.cart.rom = distinctRom(1024 * KB);
  auto image = bench.cart.rom;
  image[2 * kChunk + 500] ^= 0x01;
  auto result = verify(bench, imageOf(image));
  EXPECT_FALSE(result.equal);
  EXPECT_EQ(result.out, verdict(2, "X\nFailed!\n"));
  EXPECT_EQ(result.chunksRead, 3u);
  EXPECT_EQ(callsOf(bench.fake, CallKind::Write).back().bytes,
            platform::testing::bytesOf({0x43, 0x00}));
}

TEST(VerifyCartridge, EveryImageByteIsCompared) {
  // The cartridge as the flash write leaves it: each chunk programmed from a
  // buffer that starts as erased flash and keeps the previous chunk's bytes
  // past a short last chunk.
  auto programmed = [](const std::vector<std::uint8_t>& image) {
    std::vector<std::uint8_t> cart;
    std::vector<std::uint8_t> buffer(kChunk, 0xFF);
    for (std::size_t at = 0; at < image.size() || at == 0; at += kChunk) {
      std::size_t n = std::min(kChunk, image.size() - at);
      std::copy(image.begin() + static_cast<long>(at),
                image.begin() + static_cast<long>(at + n), buffer.begin());
      cart.insert(cart.end(), buffer.begin(), buffer.end());
    }
    return cart;
  };
  struct Case {
    std::size_t size;
    std::size_t chunks;
  };
  for (const Case& c : {Case{1024 * KB + 100, 33}, Case{1024 * KB + 16 * KB, 33},
                        Case{1000, 1}, Case{0, 1}, Case{4096 * KB, 128}}) {
    SCOPED_TRACE(c.size);
    auto image = distinctRom(c.size, 3);
    {
      CartBench bench;
      bench.cart.rom = programmed(image);
      auto result = verify(bench, imageOf(image));
      EXPECT_TRUE(result.equal);
      EXPECT_EQ(result.out, verdict(c.chunks, "\nGOOD\n"));
      EXPECT_EQ(result.chunksRead, c.chunks);
    }
    if (c.size == 0) continue;
    // A difference in the image's very last byte is seen.
    CartBench bench;
    bench.cart.rom = programmed(image);
    bench.cart.rom[c.size - 1] ^= 0x80;
    auto result = verify(bench, imageOf(image));
    EXPECT_FALSE(result.equal);
    EXPECT_EQ(result.out, verdict(c.chunks - 1, "X\nFailed!\n"));
  }
}

TEST(VerifyCartridge, ALinkFailureEndsTheComparisonWithoutAVerdict) {
  CartBench bench;
  bench.cart.rom = distinctRom(1024 * KB);
  bench.fake.faults = {
      {.kind = CallKind::Read, .occurrence = 2, .status = platform::kFtIoError, .done = 0}};
  auto result = verify(bench, imageOf(bench.cart.rom));
  EXPECT_FALSE(result.equal);
  EXPECT_TRUE(bench.link.ioFailed);
  EXPECT_EQ(result.out, verdict(2, "\n"));
  EXPECT_EQ(result.chunksRead, 3u);
  EXPECT_EQ(bench.cart.blockReads.size(), 3u * 32);
}

}  // namespace
}  // namespace romwright
