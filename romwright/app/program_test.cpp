// The romwright program as a user runs it, without any board or driver.
#include <gtest/gtest.h>

#include <algorithm>

#include "platform/testing/program_run.h"
#include "virtual_programmer/cart_file.h"

namespace romwright {
namespace {

using platform::testing::programPath;
using platform::testing::ProgramSetup;
using platform::testing::runProgram;

const std::string kBanner = "romwright 1.0 - SNES flash cartridge programmer\n\n";

// No vendor library on the search path and no virtual cartridge.
ProgramSetup noDriver() {
  ProgramSetup setup;
  setup.unset = {"CARTLINK_VIRTUAL_CART", "LD_LIBRARY_PATH"};
  return setup;
}

// Written out here on its own, not taken from the program, so that an edit
// of the program's text shows up.
const char* const kExpectedHelp =
    "Read\\Write Commands:\n"
    "    -re = Display EEPROM settings\n"
    "    -rf [filename] = Reads ROM to file\n"
    "    -wf [filename] = Writes file to flash\n"
    "    -rs [filename] = Reads Save RAM to file\n"
    "    -ws [filename] = Writes file to Save RAM\n"
    "\n"
    "Manual Settings:\n"
    "    -we = Update EEPROM settings\n"
    "    -h = Specifies HIROM\n"
    "    -l = Specifies LOROM\n"
    "    -s2 = Enables 2kB Save RAM\n"
    "    -s8 = Enables 8kB Save RAM\n"
    "    -s32 = Enables 32kB Save RAM\n"
    "    -m = Mirroring, use entire 4MB\n"
    "    -k [size] = How many kB to read back\n"
    "    -x = Power off (in case red light is stuck on)\n"
    "\n"
    "Examples:\n"
    "To read a game ROM and Save RAM with auto detect\n"
    "Be sure to verify the game's checksum after reading\n"
    "    romwright -rf game.bin -rs game.srm\n"
    "\n"
    "To program a flash cartridge with auto detect\n"
    "    romwright -wf game.bin\n"
    "\n"
    "To program a flash cartridge with manual settings\n"
    "    romwright -h -s32 -wf game.bin\n"
    "\n"
    "To fix Save RAM size\n"
    "    romwright -h -s8 -we\n";

TEST(RomwrightProgram, NoArgumentsPrintsBannerAndHelp) {
  auto run = runProgram({programPath("romwright")}, noDriver());
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, kBanner + kExpectedHelp + "\n");
  EXPECT_EQ(run.err, "");
}

TEST(RomwrightProgram, WithoutADriverTheOpenFails) {
  for (const char* option : {"-re", "-x"}) {
    auto run = runProgram({programPath("romwright"), option}, noDriver());
    EXPECT_EQ(run.status, 255) << option;
    EXPECT_EQ(run.out, kBanner + "ERROR: Could not open FTDI device\n") << option;
    // One line on stderr says what was tried.
    EXPECT_NE(run.err.find("libftd2xx.so"), std::string::npos) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
  }
}

TEST(RomwrightProgram, UnusableVirtualCartridgeFailsTheOpen) {
  platform::testing::TempDir dir;
  ProgramSetup setup = noDriver();
  setup.set = {{"CARTLINK_VIRTUAL_CART", dir.file("missing.cart")}};
  auto run = runProgram({programPath("romwright"), "-re"}, setup);
  EXPECT_EQ(run.status, 255);
  EXPECT_EQ(run.out, kBanner + "ERROR: Could not open FTDI device\n");
  EXPECT_NE(run.err.find("missing.cart"), std::string::npos) << run.err;
}

// The vendor library is found through the normal library search and every
// byte goes through it.
TEST(RomwrightProgram, TalksThroughTheVendorLibraryOnTheLibraryPath) {
  platform::testing::TempDir dir;
  ProgramSetup setup = noDriver();
  setup.set = {{"LD_LIBRARY_PATH", FAKE_VENDOR_DIR}, {"FAKE_FTD2XX_LOG", dir.file("traffic")}};
  auto run = runProgram({programPath("romwright"), "-x"}, setup);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, kBanner + "Power Off\n");
  EXPECT_EQ(run.err, "");
  std::vector<unsigned char> expected(1024, 0x00);
  expected.insert(expected.end(), {0x43, 0x00, 0x50, 0x00});
  EXPECT_EQ(platform::testing::readWholeFile(dir.file("traffic")), expected);
}

// Runs romwright against a virtual cartridge made by cartsim.
struct VirtualRun {
  platform::testing::TempDir dir;
  std::string cart = dir.file("slot.vcart");

  void make(const std::vector<std::string>& newArgs) {
    std::vector<std::string> argv = {programPath("cartsim"), "new", cart};
    argv.insert(argv.end(), newArgs.begin(), newArgs.end());
    auto made = runProgram(argv);
    ASSERT_EQ(made.status, 0) << made.err;
  }
  platform::testing::ProgramRun romwright(const std::vector<std::string>& options) {
    ProgramSetup setup = noDriver();
    setup.workingDir = dir.path;
    setup.set = {{"CARTLINK_VIRTUAL_CART", cart}};
    std::vector<std::string> argv = {programPath("romwright")};
    argv.insert(argv.end(), options.begin(), options.end());
    return runProgram(argv, setup);
  }
  std::vector<std::string> violations() {
    vprog::VirtualCart loaded;
    std::string error;
    EXPECT_TRUE(vprog::loadCartFile(cart, loaded, error)) << error;
    return loaded.violations;
  }
};

TEST(RomwrightProgram, PowerOffAndBareRunsOnTheVirtualProgrammer) {
  platform::testing::TempDir romDir;
  std::string rom = romDir.file("game.sfc");
  ASSERT_EQ(runProgram({programPath("cartsim"), "demo-rom", rom, "--hirom"}).status, 0);
  const std::vector<std::vector<std::string>> cartridges = {
      {"--flash", "--chip", "0"}, {"--flash", "--no-eeprom", "--sram", "0"},
      {"--game", rom, "--map", "hirom"}};
  for (const auto& kind : cartridges) {
    VirtualRun bench;
    bench.make(kind);
    auto off = bench.romwright({"-x"});
    EXPECT_EQ(off.status, 0) << kind[0];
    EXPECT_EQ(off.out, kBanner + "Power Off\n");
    EXPECT_EQ(off.err, "");
    // A run whose steps have nothing to do: power up, mode switch, power down.
    auto bare = bench.romwright({"-re"});
    EXPECT_EQ(bare.status, 0) << kind[0];
    EXPECT_EQ(bare.out, kBanner);
    EXPECT_EQ(bench.violations(), std::vector<std::string>{}) << kind[0];
  }
}

}  // namespace
}  // namespace romwright
