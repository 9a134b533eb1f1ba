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
using platform::testing::folderEntries;

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

// Whole romwright runs on virtual game cartridges, as a user makes them.
namespace romwright {
namespace {

using platform::testing::programPath;
using platform::testing::ProgramRun;
using platform::testing::ProgramSetup;
using platform::testing::runProgram;

const std::string kBanner = "romwright 1.0 - SNES flash cartridge programmer\n\n";

std::string dots(std::size_t n) { return std::string(n, '.'); }

// A folder with a demo ROM (game.sfc) and a game cartridge holding it (game.vcart).
struct GameBench {
  TempDir dir;
  std::string cart = dir.file("game.vcart");

  GameBench(int romKb, bool hiRom, int sramKb) {
    std::vector<std::string> demo = {programPath("cartsim"), "demo-rom", dir.file("game.sfc"),
                                     "--size", std::to_string(romKb)};
    if (hiRom) demo.push_back("--hirom");
    EXPECT_EQ(runProgram(demo).status, 0);
    makeCartridge(hiRom, sramKb);
  }

  // A cartridge holding any ROM, of any size.
  GameBench(const std::vector<std::uint8_t>& rom, bool hiRom) {
    writeWholeFile(dir.file("game.sfc"), rom);
    makeCartridge(hiRom, 0);
  }

  void makeCartridge(bool hiRom, int sramKb) {
    std::vector<std::string> make = {programPath("cartsim"), "new", cart, "--game",
                                     dir.file("game.sfc"), "--map", hiRom ? "hirom" : "lorom"};
    if (sramKb > 0) {
      make.push_back("--sram");
      make.push_back(std::to_string(sramKb));
    }
    EXPECT_EQ(runProgram(make).status, 0);
  }

  ProgramRun romwright(std::vector<std::string> args, long fileSizeLimit = -1) const {
    args.insert(args.begin(), programPath("romwright"));
    ProgramSetup setup;
    setup.fileSizeLimit = fileSizeLimit;
    setup.workingDir = dir.path;
    setup.set = {{"CARTLINK_VIRTUAL_CART", cart}};
    setup.unset = {"LD_LIBRARY_PATH"};
    return runProgram(args, setup);
  }

  ProgramRun cartsim(std::vector<std::string> args) const {
    args.insert(args.begin(), programPath("cartsim"));
    return runProgram(args);
  }

  std::vector<std::uint8_t> exportedSram() const {
    const std::string out = dir.file("exported.sram");
    EXPECT_EQ(cartsim({"export", cart, "--sram", out}).status, 0);
    auto bytes = readWholeFile(out);
    std::remove(out.c_str());
    return bytes;
  }

  void expectNoViolations() const {
    auto show = cartsim({"show", cart});
    EXPECT_EQ(show.status, 0);
    EXPECT_NE(show.out.find("Violations:   0\n"), std::string::npos) << show.out;
  }

  std::vector<std::uint8_t> file(const std::string& name) const {
    return readWholeFile(dir.file(name));
  }
};

std::string dumpAndVerify(int kb) {
  auto chunks = static_cast<std::size_t>(kb / 32);
  return "Reading ROM...\n" + dots(chunks) + "\nRead " + std::to_string(kb) + " kB\n\n" +
         "Verifying...\n" + dots(chunks) + "\nGOOD\n\n";
}

TEST(RomwrightReadRuns, DumpsAGameCartridgeWithItsMapModeDetected) {
  struct Case {
    int romKb;
    bool hiRom;
  };
  for (const Case& c : {Case{1024, false}, Case{2048, true}, Case{256, false}}) {
    SCOPED_TRACE(std::to_string(c.romKb) + (c.hiRom ? " HiROM" : " LoROM"));
    GameBench game(c.romKb, c.hiRom, 0);
    auto run = game.romwright({"-rf", "game.bin"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, kBanner + "Autodetected " + (c.hiRom ? "HIROM" : "LOROM") + "\n\n" +
                           dumpAndVerify(c.romKb));
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(game.file("game.bin"), game.file("game.sfc"));
    EXPECT_EQ(folderEntries(game.dir.path),
              (std::vector<std::string>{"game.bin", "game.sfc", "game.vcart"}));
    game.expectNoViolations();
  }
}

TEST(RomwrightReadRuns, TheSizeIsFoundWhereTheBoardRepeatsTheFirstChunk) {
  // A board shows a ROM that is no power of two in full, then repeats its
  // part past the largest power of two until the next one. So the check
  // point at 1536 kB of a 1.5 MB cartridge shows its second megabyte, and
  // the one at 3072 kB of a 3 MB cartridge its third.
  struct Piece {
    std::size_t from, length;  // kB of the ROM
  };
  struct Case {
    int romKb;
    int dumpKb;
    std::vector<Piece> shown;  // what the board shows in the dumped kB
  };
  const Case cases[] = {
      {1536, 2048, {{0, 1536}, {1024, 512}}},
      {3072, 4096, {{0, 3072}, {2048, 1024}}},
      {4096, 4096, {{0, 4096}}},
  };
  for (bool hiRom : {false, true}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::to_string(c.romKb) + (hiRom ? " kB HiROM" : " kB LoROM"));
      const auto rom = distinctRom(static_cast<std::size_t>(c.romKb) * KB,
                                   static_cast<std::uint32_t>(c.romKb));
      GameBench game(rom, hiRom);
      auto run = game.romwright({"-rf", "game.bin"});
      EXPECT_EQ(run.status, 0) << run.err;
      EXPECT_EQ(run.out, kBanner + "Autodetected " + (hiRom ? "HIROM" : "LOROM") + "\n\n" +
                             dumpAndVerify(c.dumpKb));
      std::vector<std::uint8_t> shown;
      for (const Piece& p : c.shown) {
        auto from = rom.begin() + static_cast<long>(p.from * KB);
        shown.insert(shown.end(), from, from + static_cast<long>(p.length * KB));
      }
      EXPECT_TRUE(game.file("game.bin") == shown);
      game.expectNoViolations();
    }
  }
}

TEST(RomwrightReadRuns, AManualMapModeAndALimit) {
  GameBench game(512, false, 0);
  auto run = game.romwright({"-l", "-rf", "game.bin"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, kBanner + dumpAndVerify(512));
  EXPECT_EQ(game.file("game.bin"), game.file("game.sfc"));

  run = game.romwright({"-k", "64", "-rf", "part.bin"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, kBanner + "Autodetected LOROM\n\n" + dumpAndVerify(64));
  auto whole = game.file("game.sfc");
  EXPECT_EQ(game.file("part.bin"), std::vector<std::uint8_t>(whole.begin(), whole.begin() + 65536));
  game.expectNoViolations();
}

TEST(RomwrightReadRuns, RomAndSaveRamInOneRunAreDetectedOnce) {
  GameBench game(1024, true, 8);
  auto run = game.romwright({"-rf", "game.bin", "-rs", "game.srm"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, kBanner + "Autodetected HIROM\n\n" + dumpAndVerify(1024) +
                         "Reading Save RAM...\nRead 8192 Bytes\n\n");
  EXPECT_EQ(game.file("game.bin"), game.file("game.sfc"));
  EXPECT_EQ(game.file("game.srm"), game.exportedSram());
  game.expectNoViolations();
}

TEST(RomwrightReadRuns, SaveRamIsReadInTheWindowOfTheMapMode) {
  struct Case {
    bool hiRom;
    int sramKb;
    int expected;
  };
  for (const Case& c : {Case{true, 8, 8192}, Case{true, 2, 2048}, Case{false, 32, 32768},
                        Case{false, 8, 8192}, Case{false, 2, 2048}}) {
    SCOPED_TRACE(std::to_string(c.sramKb) + (c.hiRom ? " KB HiROM" : " KB LoROM"));
    GameBench game(512, c.hiRom, c.sramKb);
    auto run = game.romwright({"-rs", "game.srm"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, kBanner + "Autodetected " + (c.hiRom ? "HIROM" : "LOROM") +
                           "\n\nReading Save RAM...\nRead " + std::to_string(c.expected) +
                           " Bytes\n\n");
    EXPECT_EQ(game.file("game.srm"), game.exportedSram());
    game.expectNoViolations();
  }
}

TEST(RomwrightReadRuns, TheSaveRamIsReadBeforeItIsWritten) {
  GameBench game(256, false, 32);
  const auto before = game.exportedSram();
  const auto saved = distinctRom(32 * KB, 77);
  writeWholeFile(game.dir.file("save.srm"), saved);
  auto run = game.romwright({"-ws", "save.srm", "-rs", "copy.srm"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, kBanner +
                         "Autodetected LOROM\n\nReading Save RAM...\nRead 32768 Bytes\n\n"
                         "Writing Save RAM...\nWrote 32768 Bytes\n\n");
  EXPECT_EQ(game.file("copy.srm"), before);
  EXPECT_EQ(game.exportedSram(), saved);
  game.expectNoViolations();
}

TEST(RomwrightReadRuns, AFlashFileThatDoesNotLoadStopsBeforeTheOpen) {
  GameBench game(256, false, 0);
  ASSERT_EQ(mkdir(game.dir.file("folder").c_str(), 0755), 0);
  for (const char* name : {"missing.sfc", "folder"}) {
    auto run = game.romwright({"-wf", name, "-rf", "game.bin"});
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(run.out, kBanner + "ERROR: Could not open " + name + "\n");
  }
  EXPECT_EQ(folderEntries(game.dir.path),
            (std::vector<std::string>{"folder", "game.sfc", "game.vcart"}));
}

TEST(RomwrightReadRuns, FailuresEndWithStatusOneAndKeepEarlierFiles) {
  {
    SCOPED_TRACE("the board is unplugged mid-dump");
    GameBench game(1024, false, 0);
    ASSERT_EQ(game.cartsim({"fault", game.cart, "--unplug-after", "200000"}).status, 0);
    const std::vector<std::uint8_t> earlier = {'o', 'l', 'd'};
    writeWholeFile(game.dir.file("game.bin"), earlier);
    auto run = game.romwright({"-rf", "game.bin", "-rs", "game.srm"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, kBanner + "Autodetected LOROM\n\nReading ROM...\n" + dots(5) +
                           "\n\nERROR: Device I/O failed\n");
    EXPECT_EQ(game.file("game.bin"), earlier);
    EXPECT_EQ(folderEntries(game.dir.path),
              (std::vector<std::string>{"game.bin", "game.sfc", "game.vcart"}));
  }
  {
    SCOPED_TRACE("the second reading differs");
    GameBench game(1024, false, 0);
    ASSERT_EQ(game.cartsim({"fault", game.cart, "--dirty"}).status, 0);
    auto run = game.romwright({"-l", "-rf", "game.bin"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, kBanner + "Reading ROM...\n" + dots(32) +
                           "\nRead 1024 kB\n\nVerifying...\nX\nFailed!\n\n");
    game.expectNoViolations();
  }
  {
    SCOPED_TRACE("a file size limit: the disk is full for the dump");
    GameBench game(1024, false, 0);
    const std::vector<std::uint8_t> earlier = {'o', 'l', 'd'};
    writeWholeFile(game.dir.file("game.bin"), earlier);
    // Room for three chunks; the fourth does not fit.
    auto run = game.romwright({"-l", "-rf", "game.bin"}, 100 * KB);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, kBanner + "Reading ROM...\n" + dots(3) +
                           "\nERROR: Could not write game.bin\n\n");
    EXPECT_EQ(game.file("game.bin"), earlier);
    EXPECT_EQ(folderEntries(game.dir.path),
              (std::vector<std::string>{"game.bin", "game.sfc", "game.vcart"}));
  }
  {
    SCOPED_TRACE("a full device");
    ASSERT_EQ(outputTargetOf("/dev/full"), OutputTarget::Direct);
    GameBench game(256, false, 8);
    auto run = game.romwright({"-l", "-rf", "/dev/full", "-rs", "/dev/full"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, kBanner +
                           "Reading ROM...\n\nERROR: Could not write /dev/full\n\n"
                           "Reading Save RAM...\nERROR: Could not write /dev/full\n\n");
    struct stat info {};
    ASSERT_EQ(lstat("/dev/full", &info), 0);
    EXPECT_TRUE(S_ISCHR(info.st_mode));
    game.expectNoViolations();
  }
}

}  // namespace
}  // namespace romwright
