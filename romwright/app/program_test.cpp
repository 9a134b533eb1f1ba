// The romwright program as a user runs it, without any board or driver.
#include <gtest/gtest.h>

#include <algorithm>

#include "platform/testing/program_run.h"
#include "romwright/app/options.h"

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

TEST(RomwrightProgram, NoArgumentsPrintsBannerAndHelp) {
  auto run = runProgram({programPath("romwright")}, noDriver());
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, kBanner + kHelpText + "\n");
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

}  // namespace
}  // namespace romwright
