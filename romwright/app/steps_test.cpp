// The ROM read, save RAM and flash image loading steps on a fake cartridge.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "platform/testing/program_run.h"
#include "romwright/app/run.h"
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
using testing::folderEntries;

constexpr std::size_t KB = 1024;

struct StepBench {
  CartBench bench;
  RunContext run;
  TempDir dir;
  explicit StepBench(bool hiRom = false) : bench(hiRom) {
    run.session = &bench.session;
    bench.cart.rom = distinctRom(256 * KB);
    bench.cart.sram = distinctRom(8 * KB, 4);
  }
};

template <typename Step>
std::string captured(Step step, bool& result) {
  ::testing::internal::CaptureStdout();
  result = step();
  return ::testing::internal::GetCapturedStdout();
}

const std::string kDump256 = "Reading ROM...\n........\nRead 256 kB\n\n";
const std::string kGood256 = "Verifying...\n........\nGOOD\n\n";

TEST(RomReadStep, DetectsDumpsAndVerifies) {
  for (bool hiRom : {false, true}) {
    SCOPED_TRACE(hiRom ? "HiROM" : "LoROM");
    StepBench s(hiRom);
    s.bench.session.isHiRom = hiRom ? 0 : 1;  // the opposite, as a manual default might leave it
    s.run.options.romReadPath = s.dir.file("game.bin");
    bool ok = false;
    std::string out = captured([&] { return romReadStep(s.run); }, ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(out, std::string("Autodetected ") + (hiRom ? "HIROM" : "LOROM") + "\n\n" +
                       kDump256 + kGood256);
    EXPECT_FALSE(s.run.options.autoDetect);
    EXPECT_EQ(readWholeFile(s.dir.file("game.bin")), s.bench.cart.rom);
  }
}

TEST(RomReadStep, AManualMapModeIsNotDetectedAndALimitIsVerifiedAsRead) {
  StepBench s;
  s.run.options.autoDetect = false;
  s.run.options.readBackKb = 64;
  s.run.options.romReadPath = s.dir.file("game.bin");
  bool ok = false;
  std::string out = captured([&] { return romReadStep(s.run); }, ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(out, "Reading ROM...\n..\nRead 64 kB\n\nVerifying...\n..\nGOOD\n\n");
  // No detection: the first command is the dump's control byte, LoROM blocks only.
  EXPECT_EQ(callsOf(s.bench.fake, CallKind::Write).front().bytes.size(), 2u);
  for (auto address : s.bench.cart.blockReads) EXPECT_LT(address, 0x020000u);
  EXPECT_EQ(s.bench.cart.blockReads.size(), 4u * 32);
}

TEST(RomReadStep, ASecondReadingThatDiffersFailsTheStep) {
  StepBench s;
  s.run.options.autoDetect = false;
  s.run.options.romReadPath = s.dir.file("game.bin");
  // Block 03:9000 reads differently the second time.
  int readings = 0;
  s.bench.cart.onBlockRead = [&](cartlink::BusAddress address, std::uint8_t* block) {
    if (address == 0x039000 && ++readings == 2) block[17] ^= 0x40;
  };
  bool ok = true;
  std::string out = captured([&] { return romReadStep(s.run); }, ok);
  EXPECT_FALSE(ok);
  EXPECT_EQ(out, kDump256 + "Verifying...\n...X\nFailed!\n\n");
}

TEST(RomReadStep, AFailedDumpIsNotReloaded) {
  StepBench s;
  s.run.options.autoDetect = false;
  const std::string path = s.dir.file("missing/game.bin");
  s.run.options.romReadPath = path;
  bool ok = true;
  std::string out = captured([&] { return romReadStep(s.run); }, ok);
  EXPECT_FALSE(ok);
  EXPECT_EQ(out, "Reading ROM...\nERROR: Could not open " + path + "\n\n");
  EXPECT_EQ(s.bench.writeCount(), 0u);
}

TEST(RomReadStep, ALinkFailureMidDumpStopsTheStepAndKeepsTheEarlierFile) {
  StepBench s;
  s.run.options.autoDetect = false;
  s.run.options.romReadPath = s.dir.file("game.bin");
  const auto earlier = distinctRom(100 * KB, 9);
  writeWholeFile(s.dir.file("game.bin"), earlier);
  s.bench.fake.faults = {
      {.kind = CallKind::Read, .occurrence = 2, .status = platform::kFtIoError, .done = 0}};
  bool ok = true;
  std::string out = captured([&] { return romReadStep(s.run); }, ok);
  EXPECT_FALSE(ok);
  EXPECT_TRUE(s.bench.link.ioFailed);
  EXPECT_EQ(out, "Reading ROM...\n..\n\n");
  EXPECT_EQ(callsOf(s.bench.fake, CallKind::Read).size(), 3u);
  EXPECT_EQ(readWholeFile(s.dir.file("game.bin")), earlier);
  EXPECT_EQ(folderEntries(s.dir.path), std::vector<std::string>{"game.bin"});
}

TEST(RomReadStep, ALinkFailureInTheDetectionStopsBeforeTheDump) {
  StepBench s;
  s.run.options.romReadPath = s.dir.file("game.bin");
  s.bench.fake.faults = {
      {.kind = CallKind::Read, .occurrence = 1, .status = platform::kFtIoError, .done = 0}};
  bool ok = true;
  std::string out = captured([&] { return romReadStep(s.run); }, ok);
  EXPECT_FALSE(ok);
  EXPECT_EQ(out, "");
  EXPECT_TRUE(folderEntries(s.dir.path).empty());
}

TEST(RomReadStep, ADumpToADeviceIsNotReadBack) {
  ASSERT_EQ(outputTargetOf("/dev/null"), OutputTarget::Direct);
  StepBench s;
  s.run.options.autoDetect = false;
  s.run.options.romReadPath = "/dev/null";
  bool ok = false;
  std::string out = captured([&] { return romReadStep(s.run); }, ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(out, kDump256 + "\n");
  struct stat info {};
  ASSERT_EQ(lstat("/dev/null", &info), 0);
  EXPECT_TRUE(S_ISCHR(info.st_mode));
}

TEST(SaveRamSteps, TheCartridgeIsExaminedOnceForTheWholeRun) {
  StepBench s(true);
  s.run.options.romReadPath = s.dir.file("game.bin");
  s.run.options.sramReadPath = s.dir.file("game.srm");
  s.run.options.sramWritePath = s.dir.file("game.srm");
  bool ok = false;
  std::string out = captured([&] { return romReadStep(s.run) && saveRamSteps(s.run); }, ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(out, "Autodetected HIROM\n\n" + kDump256 + kGood256 +
                     "Reading Save RAM...\nRead 8192 Bytes\n\n"
                     "Writing Save RAM...\nWrote 8192 Bytes\n\n");
  // The save RAM went through the HiROM window.
  EXPECT_EQ(readWholeFile(s.dir.file("game.srm")), s.bench.cart.sram);
  EXPECT_EQ(s.bench.cart.blockWrites.front(), 0x306000u);
}

TEST(SaveRamSteps, TheReadComesBeforeTheWrite) {
  StepBench s;
  const auto before = s.bench.cart.sram;
  const auto saved = distinctRom(8 * KB, 21);
  writeWholeFile(s.dir.file("save.srm"), saved);
  s.run.options.sramWritePath = s.dir.file("save.srm");
  s.run.options.sramReadPath = s.dir.file("copy.srm");
  bool ok = false;
  std::string out = captured([&] { return saveRamSteps(s.run); }, ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(out,
            "Autodetected LOROM\n\nReading Save RAM...\nRead 8192 Bytes\n\n"
            "Writing Save RAM...\nWrote 8192 Bytes\n\n");
  EXPECT_EQ(readWholeFile(s.dir.file("copy.srm")), before);
  EXPECT_EQ(s.bench.cart.sram, saved);
}

TEST(SaveRamSteps, AFailedTransferFailsTheStepAndTheOtherStillRuns) {
  StepBench s;
  s.run.options.autoDetect = false;
  ASSERT_EQ(mkdir(s.dir.file("folder").c_str(), 0755), 0);
  writeWholeFile(s.dir.file("empty.srm"), {});
  struct Case {
    std::string read, write, out;
  };
  const Case cases[] = {
      {s.dir.file("missing/a.srm"), s.dir.file("empty.srm"),
       "Reading Save RAM...\nERROR: Could not open " + s.dir.file("missing/a.srm") +
           "\n\nWriting Save RAM...\nWrote 0 Bytes\n\n"},
      {s.dir.file("a.srm"), s.dir.file("folder"),
       "Reading Save RAM...\nRead 8192 Bytes\n\nWriting Save RAM...\nERROR: Could not open " +
           s.dir.file("folder") + "\n\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.read);
    s.run.options.sramReadPath = c.read;
    s.run.options.sramWritePath = c.write;
    bool ok = true;
    std::string out = captured([&] { return saveRamSteps(s.run); }, ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(out, c.out);
  }
}

TEST(LoadFlashImage, TheImageDecidesTheMapModeOnlyWhileDetectionIsOn) {
  TempDir dir;
  writeWholeFile(dir.file("game.sfc"), distinctRom(512 * KB));
  RomImage reference;
  ::testing::internal::CaptureStdout();
  ASSERT_TRUE(loadRomFile(dir.file("game.sfc").c_str(), false, reference));
  ::testing::internal::GetCapturedStdout();

  RunContext run;
  run.options.flashWritePath = dir.file("game.sfc");
  run.hiRom = reference.isHiRom == 0;  // the opposite, to see it replaced
  bool ok = false;
  std::string out = captured([&] { return loadFlashImage(run); }, ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(out, std::string("Autodetected ") + (reference.isHiRom ? "HIROM" : "LOROM") +
                     ", SaveRAM " + std::to_string(reference.sramKb) + " kB\n\n");
  EXPECT_EQ(run.hiRom, reference.isHiRom != 0);
  EXPECT_EQ(run.sramKb, reference.sramKb);
  EXPECT_FALSE(run.options.autoDetect);
  ASSERT_TRUE(run.flashImage.has_value());
  EXPECT_EQ(run.flashImage->size, 512 * KB);

  RunContext manual;
  manual.options.flashWritePath = dir.file("game.sfc");
  manual.options.autoDetect = false;
  manual.hiRom = true;
  manual.sramKb = 32;
  out = captured([&] { return loadFlashImage(manual); }, ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(out, "");
  EXPECT_TRUE(manual.hiRom);
  EXPECT_EQ(manual.sramKb, 32);
  EXPECT_TRUE(manual.flashImage.has_value());
}

TEST(LoadFlashImage, AFileThatDoesNotLoadEndsTheRun) {
  TempDir dir;
  ASSERT_EQ(mkdir(dir.file("folder").c_str(), 0755), 0);
  for (const std::string& path : {dir.file("missing.sfc"), dir.file("folder")}) {
    SCOPED_TRACE(path);
    RunContext run;
    run.options.flashWritePath = path;
    bool ok = true;
    std::string out = captured([&] { return loadFlashImage(run); }, ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(out, "ERROR: Could not open " + path + "\n");
    EXPECT_FALSE(run.flashImage.has_value());
    EXPECT_TRUE(run.options.autoDetect);
  }
  RunContext none;
  EXPECT_TRUE(loadFlashImage(none));
}

}  // namespace
}  // namespace romwright
