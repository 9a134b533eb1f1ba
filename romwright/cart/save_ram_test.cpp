#include "romwright/cart/save_ram.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "platform/testing/program_run.h"
#include "romwright/cart/output_file.h"
#include "romwright/cart/testing/cart_bench.h"

namespace romwright {
namespace {

using platform::testing::bytesOf;
using platform::testing::CallKind;
using platform::testing::callsOf;
using platform::testing::readWholeFile;
using platform::testing::TempDir;
using platform::testing::writeWholeFile;
using testing::CartBench;
using testing::distinctRom;
using platform::testing::folderEntries;

constexpr std::size_t KB = 1024;

std::vector<std::uint8_t> repeated(const std::vector<std::uint8_t>& unit, std::size_t size) {
  std::vector<std::uint8_t> out;
  while (out.size() < size) out.insert(out.end(), unit.begin(), unit.end());
  out.resize(size);
  return out;
}

std::vector<std::uint8_t> concat(std::initializer_list<std::vector<std::uint8_t>> parts) {
  std::vector<std::uint8_t> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

TEST(ReadSaveRam, TheSizeIsFoundByHalvingFromTheStart) {
  const auto a = distinctRom(8 * KB, 1), b = distinctRom(8 * KB, 2), d = distinctRom(8 * KB, 3);
  // 16 KB whose copy differs in its last byte only: halves are compared whole.
  const auto x = distinctRom(16 * KB, 4);
  auto xLastByteOff = x;
  xLastByteOff.back() ^= 0x01;
  struct Case {
    const char* what;
    bool hiRom;
    std::vector<std::uint8_t> sram;
    std::size_t expected;
  };
  const Case cases[] = {
      {"32 KB", false, distinctRom(32 * KB), 32768},
      {"equal 16 KB halves, different 8 KB quarters", false, concat({a, b, a, b}), 16384},
      {"8 KB chip", false, a, 8192},
      {"4 KB chip", false, distinctRom(4 * KB), 4096},
      {"2 KB chip", false, distinctRom(2 * KB), 2048},
      {"one value throughout", false, std::vector<std::uint8_t>(32 * KB, 0x5A), 2048},
      {"later halves equal, first ones not", false, concat({a, b, d, d}), 32768},
      {"halves differ in the last byte only", false, concat({x, xLastByteOff}), 32768},
      {"HiROM window holds 8 KB of a larger chip", true, distinctRom(32 * KB), 8192},
      {"HiROM 2 KB chip", true, distinctRom(2 * KB), 2048},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CartBench bench(c.hiRom);
    bench.cart.sram = c.sram;
    TempDir dir;
    ::testing::internal::CaptureStdout();
    bool ok = readSaveRam(bench.session, dir.file("game.srm").c_str());
    std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_TRUE(ok);
    EXPECT_EQ(out, "Reading Save RAM...\nRead " + std::to_string(c.expected) + " Bytes\n");
    auto file = readWholeFile(dir.file("game.srm"));
    EXPECT_EQ(file, std::vector<std::uint8_t>(repeated(c.sram, c.expected)));
  }
}

TEST(ReadSaveRam, TheWindowFollowsTheMapMode) {
  for (bool hiRom : {false, true}) {
    SCOPED_TRACE(hiRom ? "HiROM" : "LoROM");
    CartBench bench(hiRom);
    bench.cart.sram = distinctRom(8 * KB);
    TempDir dir;
    ::testing::internal::CaptureStdout();
    readSaveRam(bench.session, dir.file("game.srm").c_str());
    ::testing::internal::GetCapturedStdout();
    std::size_t blocks = hiRom ? 8 : 32;
    auto writes = callsOf(bench.fake, CallKind::Write);
    ASSERT_EQ(writes.size(), blocks + 2);
    EXPECT_EQ(writes.front().bytes, bytesOf({0x43, hiRom ? 0x00 : 0x01}));
    EXPECT_EQ(writes[1].bytes, hiRom ? bytesOf({0x52, 0x00, 0x60, 0x30})
                                     : bytesOf({0x52, 0x00, 0x00, 0x70}));
    EXPECT_EQ(writes[blocks].bytes, hiRom ? bytesOf({0x52, 0x00, 0x7C, 0x30})
                                          : bytesOf({0x52, 0x00, 0x7C, 0x70}));
    EXPECT_EQ(writes.back().bytes, bytesOf({0x43, 0x00}));
    auto reads = callsOf(bench.fake, CallKind::Read);
    ASSERT_EQ(reads.size(), 1u);
    EXPECT_EQ(reads[0].asked, blocks * KB);
  }
}

TEST(ReadSaveRam, FailuresLeaveTheEarlierFileAndNothingElse) {
  TempDir dir;
  ASSERT_EQ(mkdir(dir.file("folder").c_str(), 0755), 0);
  const auto earlier = distinctRom(2 * KB, 5);
  writeWholeFile(dir.file("game.srm"), earlier);

  for (const std::string& path : {dir.file("missing/game.srm"), dir.file("folder")}) {
    SCOPED_TRACE(path);
    CartBench bench;
    bench.cart.sram = distinctRom(32 * KB);
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(readSaveRam(bench.session, path.c_str()));
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "Reading Save RAM...\nERROR: Could not open " + path + "\n");
    EXPECT_EQ(bench.writeCount(), 0u);
  }

  {
    SCOPED_TRACE("the link fails");
    CartBench bench;
    bench.cart.sram = distinctRom(32 * KB);
    bench.fake.faults = {
        {.kind = CallKind::Read, .occurrence = 0, .status = platform::kFtOk, .done = 1000}};
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(readSaveRam(bench.session, dir.file("game.srm").c_str()));
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Reading Save RAM...\n");
    EXPECT_TRUE(bench.link.ioFailed);
  }

  {
    SCOPED_TRACE("the disk is full");
    auto run = testing::runWithFileSizeLimit(1000, [&] {
      CartBench bench;
      bench.cart.sram = distinctRom(32 * KB);
      return !readSaveRam(bench.session, dir.file("game.srm").c_str());
    });
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out,
              "Reading Save RAM...\nERROR: Could not write " + dir.file("game.srm") + "\n");
  }

  EXPECT_EQ(readWholeFile(dir.file("game.srm")), earlier);
  EXPECT_EQ(folderEntries(dir.path), (std::vector<std::string>{"folder", "game.srm"}));
  EXPECT_TRUE(folderEntries(dir.file("folder")).empty());
}

TEST(ReadSaveRam, AFullDeviceIsWrittenInPlace) {
  struct stat before {};
  ASSERT_EQ(lstat("/dev/full", &before), 0);
  ASSERT_TRUE(S_ISCHR(before.st_mode));
  ASSERT_EQ(outputTargetOf("/dev/full"), OutputTarget::Direct);
  CartBench bench;
  bench.cart.sram = distinctRom(8 * KB);
  ::testing::internal::CaptureStdout();
  EXPECT_FALSE(readSaveRam(bench.session, "/dev/full"));
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "Reading Save RAM...\nERROR: Could not write /dev/full\n");
  struct stat after {};
  ASSERT_EQ(lstat("/dev/full", &after), 0);
  EXPECT_TRUE(S_ISCHR(after.st_mode));
  EXPECT_EQ(after.st_rdev, before.st_rdev);
}

TEST(WriteSaveRam, WholeBlocksUpToTheWindow) {
  struct Case {
    std::size_t fileSize;
    bool hiRom;
    std::size_t expected;
  };
  const Case cases[] = {
      {100, false, 1024}, {0, false, 0},        {40000, false, 32768},
      {32768, true, 8192}, {2048, false, 2048}, {8191, true, 8192},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.fileSize) + (c.hiRom ? " HiROM" : " LoROM"));
    CartBench bench(c.hiRom);
    const std::size_t windowSize = c.hiRom ? 8 * KB : 32 * KB;
    bench.cart.sram.assign(windowSize, 0xAA);
    TempDir dir;
    const auto content = distinctRom(c.fileSize, 11);
    writeWholeFile(dir.file("save.srm"), content);

    ::testing::internal::CaptureStdout();
    EXPECT_TRUE(writeSaveRam(dir.file("save.srm").c_str(), bench.session));
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "Writing Save RAM...\nWrote " + std::to_string(c.expected) + " Bytes\n");

    // Each block as its head in one write and its data in the next.
    auto sizes = platform::testing::writeSizes(bench.fake);
    std::vector<platform::Dword> expectedSizes = {2};
    for (std::size_t i = 0; i < c.expected / KB; ++i) {
      expectedSizes.push_back(4);
      expectedSizes.push_back(1024);
    }
    expectedSizes.push_back(2);
    EXPECT_EQ(sizes, expectedSizes);
    auto writes = callsOf(bench.fake, CallKind::Write);
    EXPECT_EQ(writes.front().bytes, bytesOf({0x43, c.hiRom ? 0x00 : 0x01}));
    EXPECT_EQ(writes.back().bytes, bytesOf({0x43, 0x00}));
    if (c.expected > 0) {
      EXPECT_EQ(writes[1].bytes, c.hiRom ? bytesOf({0x57, 0x00, 0x60, 0x30})
                                         : bytesOf({0x57, 0x00, 0x00, 0x70}));
    }

    // The file's bytes, zeros to the end of the last block, the rest untouched.
    std::vector<std::uint8_t> expectedSram(windowSize, 0xAA);
    std::fill(expectedSram.begin(), expectedSram.begin() + static_cast<long>(c.expected), 0x00);
    std::copy(content.begin(),
              content.begin() + static_cast<long>(std::min(content.size(), c.expected)),
              expectedSram.begin());
    EXPECT_EQ(bench.cart.sram, expectedSram);
  }
}

TEST(WriteSaveRam, AnUnreadableFileSendsNothing) {
  TempDir dir;
  ASSERT_EQ(mkdir(dir.file("folder").c_str(), 0755), 0);
  for (const std::string& path : {dir.file("missing.srm"), dir.file("folder")}) {
    SCOPED_TRACE(path);
    CartBench bench;
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(writeSaveRam(path.c_str(), bench.session));
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "Writing Save RAM...\nERROR: Could not open " + path + "\n");
    EXPECT_EQ(bench.writeCount(), 0u);
  }
}

TEST(WriteSaveRam, ALinkFailureStopsAtTheFailingBlock) {
  CartBench bench;
  bench.cart.sram.assign(32 * KB, 0xAA);
  TempDir dir;
  writeWholeFile(dir.file("save.srm"), distinctRom(32 * KB));
  // The data of the third block is not taken.
  bench.fake.faults = {
      {.kind = CallKind::Write, .occurrence = 6, .status = platform::kFtIoError, .done = 0}};
  ::testing::internal::CaptureStdout();
  EXPECT_FALSE(writeSaveRam(dir.file("save.srm").c_str(), bench.session));
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Writing Save RAM...\n");
  EXPECT_TRUE(bench.link.ioFailed);
  EXPECT_EQ(bench.writeCount(), 7u);
}

TEST(ClearSaveRam, ZerosEveryBlockOfTheWindowSilently) {
  for (bool hiRom : {false, true}) {
    SCOPED_TRACE(hiRom ? "HiROM" : "LoROM");
    CartBench bench(hiRom);
    bench.cart.sram.assign(32 * KB, 0xAA);
    ::testing::internal::CaptureStdout();
    EXPECT_TRUE(clearSaveRam(bench.session));
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    std::size_t blocks = hiRom ? 8 : 32;
    EXPECT_EQ(bench.cart.blockWrites.size(), blocks);
    EXPECT_EQ(bench.cart.blockWrites.front(), hiRom ? 0x306000u : 0x700000u);
    EXPECT_EQ(bench.cart.blockWrites.back(), hiRom ? 0x307C00u : 0x707C00u);
    auto writes = callsOf(bench.fake, CallKind::Write);
    EXPECT_EQ(writes.front().bytes, bytesOf({0x43, hiRom ? 0x00 : 0x01}));
    EXPECT_EQ(writes.back().bytes, bytesOf({0x43, 0x00}));
    // The HiROM window reaches the chip's first 8 KB only.
    EXPECT_EQ(std::count(bench.cart.sram.begin(), bench.cart.sram.end(), 0x00),
              static_cast<long>(blocks * KB));
  }
}

}  // namespace
}  // namespace romwright
