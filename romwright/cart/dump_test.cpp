#include "romwright/cart/dump.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/testing/program_run.h"
#include "romwright/cart/output_file.h"
#include "romwright/cart/testing/cart_bench.h"

namespace romwright {
namespace {

using platform::testing::CallKind;
using platform::testing::callsOf;
using platform::testing::readWholeFile;
using platform::testing::TempDir;
using platform::testing::writeWholeFile;
using testing::CartBench;
using testing::distinctRom;
using platform::testing::folderEntries;

constexpr std::size_t KB = 1024;

struct DumpResult {
  int kb;
  std::string out;
};

DumpResult dump(CartBench& bench, const std::string& path, int limitKb) {
  ::testing::internal::CaptureStdout();
  int kb = dumpRom(bench.session, path.c_str(), limitKb);
  return {kb, ::testing::internal::GetCapturedStdout()};
}

std::string expectedText(int kb) {
  return "Reading ROM...\n" + std::string(static_cast<std::size_t>(kb / 32), '.') + "\nRead " +
         std::to_string(kb) + " kB\n";
}

std::vector<std::uint8_t> prefix(const std::vector<std::uint8_t>& bytes, std::size_t n) {
  return {bytes.begin(), bytes.begin() + static_cast<long>(n)};
}

TEST(DumpRom, TwoChunksGoOutAsSingleBlockReadsAndOneReceiveEach) {
  for (bool hiRom : {false, true}) {
    SCOPED_TRACE(hiRom ? "HiROM" : "LoROM");
    CartBench bench(hiRom);
    bench.cart.rom = distinctRom(512 * KB);
    TempDir dir;
    auto result = dump(bench, dir.file("game.bin"), 64);
    EXPECT_EQ(result.kb, 64);
    EXPECT_EQ(result.out, expectedText(64));

    // Control 0x01, 64 block reads each in its own 4-byte write, control 0x00.
    auto writes = callsOf(bench.fake, CallKind::Write);
    ASSERT_EQ(writes.size(), 66u);
    EXPECT_EQ(writes.front().bytes, platform::testing::bytesOf({0x43, 0x01}));
    EXPECT_EQ(writes.back().bytes, platform::testing::bytesOf({0x43, 0x00}));
    if (hiRom) {
      EXPECT_EQ(writes[1].bytes, platform::testing::bytesOf({0x52, 0x00, 0x00, 0x40}));
      EXPECT_EQ(writes[32].bytes, platform::testing::bytesOf({0x52, 0x00, 0x7C, 0x40}));
      EXPECT_EQ(writes[33].bytes, platform::testing::bytesOf({0x52, 0x00, 0x80, 0x40}));
    } else {
      EXPECT_EQ(writes[1].bytes, platform::testing::bytesOf({0x52, 0x00, 0x80, 0x00}));
      EXPECT_EQ(writes[32].bytes, platform::testing::bytesOf({0x52, 0x00, 0xFC, 0x00}));
      EXPECT_EQ(writes[33].bytes, platform::testing::bytesOf({0x52, 0x00, 0x80, 0x01}));
    }
    auto reads = callsOf(bench.fake, CallKind::Read);
    ASSERT_EQ(reads.size(), 2u);
    EXPECT_EQ(reads[0].asked, 32768u);
    EXPECT_EQ(reads[1].asked, 32768u);
    // The first read is asked for only after all 32 commands of its chunk.
    EXPECT_EQ(bench.fake.calls[1 + 1 + 32].kind, CallKind::Read);

    EXPECT_EQ(readWholeFile(dir.file("game.bin")), prefix(bench.cart.rom, 64 * KB));
    EXPECT_EQ(folderEntries(dir.path), std::vector<std::string>{"game.bin"});
  }
}

TEST(DumpRom, FindsTheSizeAtTheFirstCheckPointThatRepeatsTheFirstChunk) {
  struct Case {
    std::size_t romKb;
    int expectedKb;
  };
  const Case cases[] = {
      {256, 256}, {512, 512}, {1024, 1024}, {1536, 1536}, {2048, 2048}, {3072, 3072},
      {4096, 4096},
      // Between two check points: dumped up to the next one that repeats chunk 0.
      {768, 1536},
  };
  for (bool hiRom : {false, true}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(hiRom ? "HiROM " : "LoROM ") + std::to_string(c.romKb) + " kB");
      CartBench bench(hiRom);
      bench.cart.rom = distinctRom(c.romKb * KB, static_cast<std::uint32_t>(c.romKb));
      TempDir dir;
      auto result = dump(bench, dir.file("game.bin"), 0);
      EXPECT_EQ(result.kb, c.expectedKb);
      EXPECT_EQ(result.out, expectedText(c.expectedKb));
      auto file = readWholeFile(dir.file("game.bin"));
      ASSERT_EQ(file.size(), static_cast<std::size_t>(c.expectedKb) * KB);
      for (std::size_t i = 0; i < file.size(); i += 4096)
        ASSERT_EQ(file[i], bench.cart.rom[i % bench.cart.rom.size()]) << "at " << i;
      // The repeating chunk is read but not written; nothing is read after it.
      std::size_t chunksRead = c.expectedKb == 4096 ? 128 : c.expectedKb / 32 + 1;
      EXPECT_EQ(callsOf(bench.fake, CallKind::Read).size(), chunksRead);
    }
  }
}

TEST(DumpRom, ZeroAndFfInTheLaterChunkAgreeWithAnything) {
  // A 512 kB cartridge whose chunk at 256 kB is chunk 0 with some bytes changed.
  struct Case {
    const char* what;
    std::uint8_t inFirst;  // chunk 0's byte at a few positions
    std::uint8_t inLater;  // the 256 kB chunk's byte there
    int expectedKb;
  };
  const Case cases[] = {
      {"later 0x00 agrees", 0x42, 0x00, 256},
      {"later 0xFF agrees", 0x42, 0xFF, 256},
      {"first 0x00 against another value disagrees", 0x00, 0x42, 512},
      {"first 0xFF against another value disagrees", 0xFF, 0x42, 512},
      {"plain difference", 0x41, 0x42, 512},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CartBench bench;
    auto rom = distinctRom(512 * KB);
    std::copy(rom.begin(), rom.begin() + 32 * KB, rom.begin() + 256 * KB);
    for (std::size_t at : {0u, 777u, 32767u}) {
      rom[at] = c.inFirst;
      rom[256 * KB + at] = c.inLater;
    }
    bench.cart.rom = rom;
    TempDir dir;
    EXPECT_EQ(dump(bench, dir.file("game.bin"), 0).kb, c.expectedKb);
  }

  // Only 0x00 and 0xFF at 256 kB: a mirror whatever chunk 0 holds.
  CartBench bench;
  auto rom = distinctRom(512 * KB);
  for (std::size_t i = 0; i < 32 * KB; ++i) rom[256 * KB + i] = (i % 3 == 0) ? 0x00 : 0xFF;
  bench.cart.rom = rom;
  TempDir dir;
  EXPECT_EQ(dump(bench, dir.file("game.bin"), 0).kb, 256);
  EXPECT_EQ(readWholeFile(dir.file("game.bin")).size(), 256 * KB);
}

TEST(DumpRom, ALimitReadsWholeChunksUpToItAndComparesNothing) {
  struct Case {
    int limitKb;
    int expectedKb;
  };
  for (const Case& c : {Case{1, 32}, Case{100, 128}, Case{4096, 4096}}) {
    SCOPED_TRACE(c.limitKb);
    CartBench bench;
    bench.cart.rom = distinctRom(256 * KB);  // repeats every 256 kB
    TempDir dir;
    auto result = dump(bench, dir.file("game.bin"), c.limitKb);
    EXPECT_EQ(result.kb, c.expectedKb);
    EXPECT_EQ(result.out, expectedText(c.expectedKb));
    EXPECT_EQ(callsOf(bench.fake, CallKind::Read).size(),
              static_cast<std::size_t>(c.expectedKb / 32));
    auto file = readWholeFile(dir.file("game.bin"));
    ASSERT_EQ(file.size(), static_cast<std::size_t>(c.expectedKb) * KB);
    // The cartridge's 256 kB as its board repeats them through the window.
    for (std::size_t i = 0; i < file.size(); ++i)
      ASSERT_EQ(file[i], bench.cart.rom[i % bench.cart.rom.size()]) << "at " << i;
  }
}

TEST(DumpRom, ALinkFailureStopsTheDumpAndKeepsTheEarlierFile) {
  struct Case {
    const char* what;
    platform::testing::ScriptedFault fault;
  };
  const Case cases[] = {
      {"fourth receive fails",
       {.kind = CallKind::Read, .occurrence = 3, .status = platform::kFtIoError, .done = 0}},
      {"fourth receive comes back short",
       {.kind = CallKind::Read, .occurrence = 3, .status = platform::kFtOk, .done = 100}},
      {"a command in the fourth chunk is not taken",
       {.kind = CallKind::Write, .occurrence = 1 + 3 * 32 + 5, .status = platform::kFtIoError,
        .done = 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CartBench bench;
    bench.cart.rom = distinctRom(4096 * KB);
    bench.fake.faults = {c.fault};
    TempDir dir;
    const std::vector<std::uint8_t> earlier = distinctRom(200 * KB, 99);
    writeWholeFile(dir.file("game.bin"), earlier);

    auto result = dump(bench, dir.file("game.bin"), 0);
    EXPECT_EQ(result.kb, -1);
    EXPECT_TRUE(bench.link.ioFailed);
    EXPECT_EQ(result.out, "Reading ROM...\n...\n");
    // Nothing more was asked of the dead link after the failing chunk.
    EXPECT_LE(callsOf(bench.fake, CallKind::Read).size(), 4u);
    EXPECT_LE(bench.cart.blockReads.size(), 4u * 32);
    EXPECT_EQ(readWholeFile(dir.file("game.bin")), earlier);
    EXPECT_EQ(folderEntries(dir.path), std::vector<std::string>{"game.bin"});
  }
}

TEST(DumpRom, AFileThatCannotBeCreatedSendsNothing) {
  TempDir dir;
  ASSERT_EQ(mkdir(dir.file("folder").c_str(), 0755), 0);
  for (const std::string& path : {dir.file("missing/game.bin"), dir.file("folder")}) {
    SCOPED_TRACE(path);
    CartBench bench;
    bench.cart.rom = distinctRom(256 * KB);
    auto result = dump(bench, path, 0);
    EXPECT_EQ(result.kb, -1);
    EXPECT_EQ(result.out, "Reading ROM...\nERROR: Could not open " + path + "\n");
    EXPECT_EQ(bench.writeCount(), 0u);
  }
  EXPECT_EQ(folderEntries(dir.path), std::vector<std::string>{"folder"});
  EXPECT_TRUE(folderEntries(dir.file("folder")).empty());
}

TEST(DumpRom, AFullDeviceIsWrittenInPlaceAndReportsTheFailedWrite) {
  struct stat before {};
  ASSERT_EQ(lstat("/dev/full", &before), 0);
  ASSERT_TRUE(S_ISCHR(before.st_mode));
  // Only go on when the device would be written in place, never replaced.
  ASSERT_EQ(outputTargetOf("/dev/full"), OutputTarget::Direct);

  CartBench bench;
  bench.cart.rom = distinctRom(256 * KB);
  auto result = dump(bench, "/dev/full", 64);
  EXPECT_EQ(result.kb, -1);
  EXPECT_EQ(result.out, "Reading ROM...\n\nERROR: Could not write /dev/full\n");
  // The first chunk could not be stored, so no second one was read.
  EXPECT_EQ(callsOf(bench.fake, CallKind::Read).size(), 1u);

  struct stat after {};
  ASSERT_EQ(lstat("/dev/full", &after), 0);
  EXPECT_TRUE(S_ISCHR(after.st_mode));
  EXPECT_EQ(after.st_rdev, before.st_rdev);
  EXPECT_EQ(after.st_ino, before.st_ino);
}

TEST(DumpRom, AFifoIsWrittenInPlace) {
  TempDir dir;
  const std::string fifo = dir.file("pipe");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  // Both ends are open before the dump: the keeper is a writer, so opening
  // the reading end does not wait, and the reader sees the end of the data
  // once the keeper and the dump have closed, even when the dump wrongly went
  // to another file of that name.
  int keeper = ::open(fifo.c_str(), O_RDWR);
  ASSERT_GE(keeper, 0);
  int readEnd = ::open(fifo.c_str(), O_RDONLY);
  ASSERT_GE(readEnd, 0);
  std::vector<std::uint8_t> drained;
  std::thread reader([&] {
    std::uint8_t buffer[4096];
    for (ssize_t n; (n = ::read(readEnd, buffer, sizeof buffer)) > 0;)
      drained.insert(drained.end(), buffer, buffer + n);
    ::close(readEnd);
  });

  CartBench bench;
  bench.cart.rom = distinctRom(256 * KB);
  auto result = dump(bench, fifo, 64);
  ::close(keeper);
  reader.join();

  EXPECT_EQ(result.kb, 64);
  EXPECT_EQ(drained, prefix(bench.cart.rom, 64 * KB));
  struct stat after {};
  ASSERT_EQ(lstat(fifo.c_str(), &after), 0);
  EXPECT_TRUE(S_ISFIFO(after.st_mode));
  EXPECT_EQ(folderEntries(dir.path), std::vector<std::string>{"pipe"});
}

TEST(DumpRom, AFullDiskKeepsTheEarlierFile) {
  TempDir dir;
  const std::string path = dir.file("game.bin");
  const std::vector<std::uint8_t> earlier = distinctRom(200 * KB, 7);
  writeWholeFile(path, earlier);

  // Three chunks fit under the limit, the fourth does not.
  auto run = testing::runWithFileSizeLimit(100000, [&] {
    CartBench bench;
    bench.cart.rom = distinctRom(1024 * KB);
    return dumpRom(bench.session, path.c_str(), 0) == -1;
  });
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.out, "Reading ROM...\n...\nERROR: Could not write " + path + "\n");
  EXPECT_EQ(readWholeFile(path), earlier);
  EXPECT_EQ(folderEntries(dir.path), std::vector<std::string>{"game.bin"});
}

TEST(DumpRom, ACompleteDumpReplacesTheEarlierFile) {
  TempDir dir;
  const std::string path = dir.file("game.bin");
  writeWholeFile(path, distinctRom(200 * KB, 7));
  ASSERT_EQ(chmod(path.c_str(), 0640), 0);
  CartBench bench;
  bench.cart.rom = distinctRom(256 * KB);
  EXPECT_EQ(dump(bench, path, 0).kb, 256);
  EXPECT_EQ(readWholeFile(path), bench.cart.rom);
  struct stat info {};
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
  EXPECT_EQ(folderEntries(dir.path), std::vector<std::string>{"game.bin"});
}

}  // namespace
}  // namespace romwright
