#include "romwright/cart/detect.h"

#include <gtest/gtest.h>

#include <vector>

#include "romwright/cart/testing/cart_bench.h"

namespace romwright {
namespace {

using platform::testing::bytesOf;
using platform::testing::CallKind;
using platform::testing::callsOf;
using testing::CartBench;
using testing::distinctRom;

TEST(DetectMapMode, FiveCommandsInOneWriteThenThreeBlockReceives) {
  CartBench bench;
  bench.cart.rom = distinctRom(512 * 1024);
  ::testing::internal::CaptureStdout();
  EXPECT_TRUE(detectMapMode(bench.session));
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  auto writes = callsOf(bench.fake, CallKind::Write);
  ASSERT_EQ(writes.size(), 1u);
  EXPECT_EQ(writes[0].bytes, bytesOf({0x43, 0x01, 0x52, 0x00, 0x7C, 0x40, 0x52, 0x00, 0xFC, 0x40,
                                      0x52, 0x00, 0x00, 0x40, 0x43, 0x00}));
  auto reads = callsOf(bench.fake, CallKind::Read);
  ASSERT_EQ(reads.size(), 3u);
  for (const auto& r : reads) EXPECT_EQ(r.asked, 1024u);
}

TEST(DetectMapMode, CartridgesOfEitherKindAreRecognised) {
  for (bool hiRom : {false, true}) {
    for (int before : {0, 1}) {
      CartBench bench(hiRom);
      bench.cart.rom = distinctRom(1024 * 1024);
      bench.session.isHiRom = static_cast<std::uint8_t>(before);
      EXPECT_TRUE(detectMapMode(bench.session));
      EXPECT_EQ(bench.session.isHiRom, hiRom ? 1 : 0) << "earlier value " << before;
    }
  }
}

TEST(DetectMapMode, LoRomWhenTheFirstBlockMatchesEitherOther) {
  const auto x = distinctRom(1024, 1), y = distinctRom(1024, 2), z = distinctRom(1024, 3);
  const std::vector<std::uint8_t> constant(1024, 0x3C);
  struct Case {
    const char* what;
    std::vector<std::uint8_t> a, b, c;
    std::uint8_t expected;
  };
  const Case cases[] = {
      {"A equals B", x, x, y, 0},
      {"A equals C only", x, y, x, 0},
      {"all differ", x, y, z, 1},
      {"B equals C but not A", x, y, y, 1},
      {"one value everywhere", constant, constant, constant, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CartBench bench;
    bench.fake.onWrite = nullptr;
    for (const auto* block : {&c.a, &c.b, &c.c})
      bench.fake.replies.insert(bench.fake.replies.end(), block->begin(), block->end());
    bench.session.isHiRom = c.expected == 0 ? 1 : 0;
    EXPECT_TRUE(detectMapMode(bench.session));
    EXPECT_EQ(bench.session.isHiRom, c.expected);
  }
}

TEST(DetectMapMode, ALinkFailureLeavesTheMapModeAlone) {
  CartBench bench;
  bench.fake.onWrite = nullptr;  // nothing answers: the first receive comes back empty
  bench.session.isHiRom = 1;
  EXPECT_FALSE(detectMapMode(bench.session));
  EXPECT_TRUE(bench.link.ioFailed);
  EXPECT_EQ(bench.session.isHiRom, 1);
}

}  // namespace
}  // namespace romwright
