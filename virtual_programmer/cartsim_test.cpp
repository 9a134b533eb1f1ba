#include "virtual_programmer/cartsim.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>

#include "platform/testing/program_run.h"
#include "romwright/image/header_score.h"
#include "virtual_programmer/cart_file.h"
#include "virtual_programmer/demo_rom.h"
#include "virtual_programmer/flash_chip.h"

namespace vprog {
namespace {

namespace fs = std::filesystem;

using platform::testing::folderEntries;
using platform::testing::TempDir;
using platform::testing::readWholeFile;
using platform::testing::writeWholeFile;

struct Result {
  int status;
  std::string out;
  std::string err;
};

Result cartsim(std::vector<std::string> args) {
  args.insert(args.begin(), "cartsim");
  char* outText = nullptr;
  char* errText = nullptr;
  std::size_t outSize = 0, errSize = 0;
  std::FILE* out = open_memstream(&outText, &outSize);
  std::FILE* err = open_memstream(&errText, &errSize);
  Result r;
  r.status = runCartsim(args, out, err);
  std::fclose(out);
  std::fclose(err);
  r.out.assign(outText, outSize);
  r.err.assign(errText, errSize);
  std::free(outText);
  std::free(errText);
  return r;
}


VirtualCart load(const std::string& path) {
  VirtualCart cart;
  std::string error;
  EXPECT_TRUE(loadCartFile(path, cart, error)) << error;
  return cart;
}

bool contains(const std::string& text, const std::string& piece) {
  return text.find(piece) != std::string::npos;
}

TEST(Cartsim, HelpGoesToStdoutAndNoCommandIsAUsageError) {
  Result help = cartsim({"--help"});
  EXPECT_EQ(help.status, kCartsimOk);
  EXPECT_TRUE(contains(help.out, "cartsim new FILE --flash"));
  EXPECT_TRUE(help.err.empty());

  for (const auto& args : std::vector<std::vector<std::string>>{{}, {"frobnicate"}, {"show"}, {"new", "--flash"}}) {
    Result r = cartsim(args);
    EXPECT_EQ(r.status, kCartsimUsage);
    EXPECT_TRUE(r.out.empty());
    EXPECT_TRUE(contains(r.err, "cartsim: ")) << r.err;
  }
}

TEST(Cartsim, NewFlashCartridgeIsBlank) {
  TempDir dir;
  std::string path = dir.file("flash.vcart");
  Result r = cartsim({"new", path, "--flash"});
  ASSERT_EQ(r.status, kCartsimOk) << r.err;
  VirtualCart cart = load(path);
  EXPECT_EQ(cart.kind, CartKind::Flash);
  EXPECT_EQ(cart.chipRow, 0);
  EXPECT_EQ(cart.flash, std::vector<std::uint8_t>(kFlashSize, 0xFF));
  EXPECT_TRUE(cart.hasEeprom);
  EXPECT_EQ(cart.eeprom, std::vector<std::uint8_t>(128, 0xFF));
  ASSERT_EQ(cart.sram.size(), 32u * 1024);
  EXPECT_EQ(cart.sram, powerUpRam(32 * 1024));
  // The power-up pattern does not repeat every 2 KB, so a dump of it is not
  // taken for a smaller save RAM.
  EXPECT_FALSE(std::equal(cart.sram.begin(), cart.sram.begin() + 2048, cart.sram.begin() + 2048));
}

TEST(Cartsim, NewFlashCartridgeOptions) {
  TempDir dir;
  std::string path = dir.file("flash.vcart");
  struct Case {
    std::vector<std::string> options;
    int row;
    bool eeprom;
    std::size_t sramKb;
  };
  const Case cases[] = {
      {{"--chip", "S29JL032H-22", "--sram", "2"}, 5, true, 2},
      {{"--chip", "8", "--no-eeprom", "--sram", "0"}, 8, false, 0},
      {{"--chip", "at49bv322d"}, 0, true, 32},  // the exact part number, not a piece of row 1's
      {{"--chip", "winbond", "--no-eeprom", "--eeprom", "--sram", "8"}, 8, true, 8},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"new", path, "--flash"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    Result r = cartsim(args);
    ASSERT_EQ(r.status, kCartsimOk) << r.err;
    VirtualCart cart = load(path);
    EXPECT_EQ(cart.chipRow, c.row);
    EXPECT_EQ(cart.hasEeprom, c.eeprom);
    EXPECT_EQ(cart.eeprom.size(), c.eeprom ? 128u : 0u);
    EXPECT_EQ(cart.sram.size(), c.sramKb * 1024);
  }
}

TEST(Cartsim, NewRefusesBadOptionsWithoutWritingAFile) {
  TempDir dir;
  std::string path = dir.file("x.vcart");
  const std::vector<std::vector<std::string>> cases = {
      {"new", path, "--flash", "--sram", "4"},
      {"new", path, "--flash", "--chip", "spansion"},  // six of them
      {"new", path, "--flash", "--chip", "9"},
      {"new", path, "--flash", "--map", "hirom"},
      {"new", path, "--flash", "--game", "rom.sfc", "--map", "lorom"},
      {"new", path, "--game", "rom.sfc"},
      {"new", path, "--game", "rom.sfc", "--map", "midrom"},
      {"new", path, "--game", "rom.sfc", "--map", "lorom", "--sram", "129"},
      {"new", path, "--flash", "--sram"},
      {"new", path, "--flash", "--sram", "-1"},
      {"new", path, "--flash", "--bogus"},
  };
  for (const auto& args : cases) {
    Result r = cartsim(args);
    EXPECT_EQ(r.status, kCartsimUsage) << args.back();
    EXPECT_FALSE(r.err.empty());
    EXPECT_FALSE(fs::exists(path));
  }
}

TEST(Cartsim, NewGameCartridgeFromARomFile) {
  TempDir dir;
  std::vector<std::uint8_t> rom;
  std::string error;
  ASSERT_TRUE(makeDemoRom({.hiRom = true, .sizeKb = 128}, rom, error)) << error;
  std::vector<std::uint8_t> withCopierHeader(512, 0xAB);
  withCopierHeader.insert(withCopierHeader.end(), rom.begin(), rom.end());
  writeWholeFile(dir.file("game.smc"), withCopierHeader);

  std::string path = dir.file("game.vcart");
  Result r = cartsim({"new", path, "--game", dir.file("game.smc"), "--map", "HiROM", "--sram", "8",
                      "--superfx-ram", "64"});
  ASSERT_EQ(r.status, kCartsimOk) << r.err;
  EXPECT_TRUE(contains(r.out, "copier header"));
  VirtualCart cart = load(path);
  EXPECT_EQ(cart.kind, CartKind::Game);
  EXPECT_EQ(cart.mapMode, MapMode::HiRom);
  EXPECT_EQ(cart.rom, rom);
  EXPECT_EQ(cart.sram.size(), 8u * 1024);
  EXPECT_EQ(cart.superFxRam.size(), 64u * 1024);
  EXPECT_TRUE(cart.flash.empty());

  // A LoROM board reaches 4 MB, an ExHiROM board 8 MB.
  writeWholeFile(dir.file("big.sfc"), std::vector<std::uint8_t>((4u << 20) + 1024, 0x11));
  r = cartsim({"new", dir.file("big.vcart"), "--game", dir.file("big.sfc"), "--map", "lorom"});
  EXPECT_EQ(r.status, kCartsimFailed);
  EXPECT_TRUE(contains(r.err, "more than a LoROM cartridge reaches")) << r.err;
  EXPECT_FALSE(fs::exists(dir.file("big.vcart")));
  r = cartsim({"new", dir.file("big.vcart"), "--game", dir.file("big.sfc"), "--map", "exhirom"});
  EXPECT_EQ(r.status, kCartsimOk) << r.err;

  r = cartsim({"new", dir.file("none.vcart"), "--game", dir.file("missing.sfc"), "--map", "lorom"});
  EXPECT_EQ(r.status, kCartsimFailed);
  EXPECT_TRUE(contains(r.err, "missing.sfc")) << r.err;
}

TEST(Cartsim, ShowDecodesTheCartridge) {
  TempDir dir;
  std::string path = dir.file("flash.vcart");
  ASSERT_EQ(cartsim({"new", path, "--flash", "--chip", "5", "--sram", "8"}).status, kCartsimOk);

  Result blank = cartsim({"show", path});
  ASSERT_EQ(blank.status, kCartsimOk) << blank.err;
  EXPECT_TRUE(contains(blank.out, "flash cartridge")) << blank.out;
  EXPECT_TRUE(contains(blank.out, "Spansion S29JL032H-22 (row 5, manufacturer 0x01, device 0x56"));
  EXPECT_TRUE(contains(blank.out, "Flash:        4096 KB, CRC-32 "));
  EXPECT_TRUE(contains(blank.out, "blank"));
  EXPECT_TRUE(contains(blank.out, "Map mode:     LoROM, by the settings record\n")) << blank.out;
  EXPECT_TRUE(contains(blank.out, "Settings:     none (byte 1 is 0xFF"));
  EXPECT_TRUE(contains(blank.out, "Faults:       none"));
  EXPECT_TRUE(contains(blank.out, "Violations:   0"));

  VirtualCart cart = load(path);
  cart.flash[0x1234] = 0x00;
  cart.eeprom[0] = 0x70;
  const char name[] = "/super.game";
  std::copy(name, name + sizeof name, cart.eeprom.begin() + 1);
  cart.faults.failingBlock = 12;
  cart.faults.erase = EraseFault::Never;
  cart.faults.fired = 3;
  cart.violations = {"first", "second"};
  std::string error;
  ASSERT_TRUE(saveCartFile(path, cart, error)) << error;

  Result r = cartsim({"show", path});
  ASSERT_EQ(r.status, kCartsimOk) << r.err;
  char crc[32];
  std::snprintf(crc, sizeof crc, "CRC-32 %08X", crc32(cart.flash.data(), cart.flash.size()));
  EXPECT_TRUE(contains(r.out, crc)) << r.out;
  EXPECT_TRUE(contains(r.out, "written up to 0x001234"));
  EXPECT_TRUE(contains(r.out, "Filename:   /super.game\n"));
  EXPECT_TRUE(contains(r.out, "Mode:       HIROM\n"));
  EXPECT_TRUE(contains(r.out, "Map mode:     HiROM, by the settings record\n")) << r.out;
  EXPECT_TRUE(contains(r.out, "SaveRAM:    8 kB\n"));
  EXPECT_TRUE(contains(r.out, "programming block 12 (flash 0x003000) fails with status 'X' (0x58)"));
  EXPECT_TRUE(contains(r.out, "erases never finish"));
  EXPECT_TRUE(contains(r.out, "Faults fired: 3"));
  EXPECT_TRUE(contains(r.out, "Violations:   2\n    1. first\n    2. second\n"));

  Result missing = cartsim({"show", dir.file("missing.vcart")});
  EXPECT_EQ(missing.status, kCartsimFailed);
  EXPECT_TRUE(contains(missing.err, "missing.vcart: no such file")) << missing.err;
}

TEST(Cartsim, FaultsCombineAndClear) {
  TempDir dir;
  std::string path = dir.file("flash.vcart");
  ASSERT_EQ(cartsim({"new", path, "--flash"}).status, kCartsimOk);

  Result r = cartsim({"fault", path, "--fail-block", "0x10:0x81", "--erase", "late:2500", "--no-eeprom",
                      "--eeprom-busy", "--dirty", "--unplug-after", "100000"});
  ASSERT_EQ(r.status, kCartsimOk) << r.err;
  Faults f = load(path).faults;
  EXPECT_EQ(f.failingBlock, 16);
  EXPECT_EQ(f.failingBlockStatus, 0x81);
  EXPECT_EQ(f.erase, EraseFault::Late);
  EXPECT_EQ(f.eraseLateMs, 2500u);
  EXPECT_TRUE(f.noEeprom);
  EXPECT_TRUE(f.eepromStaysBusy);
  EXPECT_TRUE(f.dirtyContact);
  EXPECT_EQ(f.unplugAfterBytes, 100000u);
  EXPECT_TRUE(contains(r.out, "erases take 2500 ms longer")) << r.out;

  // --clear acts first, wherever it stands.
  ASSERT_EQ(cartsim({"fault", path, "--fail-block", "7:E", "--clear"}).status, kCartsimOk);
  f = load(path).faults;
  EXPECT_EQ(f.failingBlock, 7);
  EXPECT_EQ(f.failingBlockStatus, 'E');
  EXPECT_EQ(f.erase, EraseFault::None);
  EXPECT_FALSE(f.noEeprom || f.eepromStaysBusy || f.dirtyContact);
  EXPECT_EQ(f.unplugAfterBytes, 0u);

  const std::vector<std::uint8_t> before = readWholeFile(path);
  const std::vector<std::vector<std::string>> bad = {
      {"fault", path},
      {"fault", path, "--fail-block", "4096"},
      {"fault", path, "--fail-block", "3:."},
      {"fault", path, "--fail-block", "3:XY"},
      {"fault", path, "--erase", "soon"},
      {"fault", path, "--erase", "late:"},
      {"fault", path, "--unplug-after", "lots"},
      {"fault", path, "--dirty", "--explode"},
  };
  for (const auto& args : bad) {
    Result b = cartsim(args);
    EXPECT_EQ(b.status, kCartsimUsage) << args.back();
  }
  EXPECT_EQ(readWholeFile(path), before);
}

TEST(Cartsim, GameCartridgesTakeOnlyBoardFaults) {
  TempDir dir;
  std::vector<std::uint8_t> rom(64 * 1024, 0x42);
  writeWholeFile(dir.file("game.sfc"), rom);
  std::string path = dir.file("game.vcart");
  ASSERT_EQ(cartsim({"new", path, "--game", dir.file("game.sfc"), "--map", "lorom"}).status, kCartsimOk);

  Result r = cartsim({"fault", path, "--erase", "never"});
  EXPECT_EQ(r.status, kCartsimFailed);
  EXPECT_TRUE(contains(r.err, "no flash chip")) << r.err;
  EXPECT_EQ(load(path).faults.erase, EraseFault::None);

  ASSERT_EQ(cartsim({"fault", path, "--dirty", "--unplug-after", "5"}).status, kCartsimOk);
  EXPECT_TRUE(load(path).faults.dirtyContact);
}

TEST(Cartsim, ExportWritesTheMemories) {
  TempDir dir;
  std::string path = dir.file("flash.vcart");
  ASSERT_EQ(cartsim({"new", path, "--flash", "--sram", "2"}).status, kCartsimOk);
  VirtualCart cart = load(path);

  Result r = cartsim({"export", path, "--rom", dir.file("flash.bin"), "--sram", dir.file("save.srm"),
                      "--eeprom", dir.file("eeprom.bin")});
  ASSERT_EQ(r.status, kCartsimOk) << r.err;
  EXPECT_EQ(readWholeFile(dir.file("flash.bin")), cart.flash);
  EXPECT_EQ(readWholeFile(dir.file("save.srm")), cart.sram);
  EXPECT_EQ(readWholeFile(dir.file("eeprom.bin")), cart.eeprom);

  // Nothing is written when one of the memories is not there.
  r = cartsim({"export", path, "--sram", dir.file("again.srm"), "--superfx-ram", dir.file("gsu.bin")});
  EXPECT_EQ(r.status, kCartsimFailed);
  EXPECT_TRUE(contains(r.err, "no Super FX RAM")) << r.err;
  EXPECT_FALSE(fs::exists(dir.file("again.srm")));

  EXPECT_EQ(cartsim({"export", path}).status, kCartsimUsage);
  EXPECT_EQ(cartsim({"export", path, "--rom"}).status, kCartsimUsage);
}

TEST(DemoRom, HeaderChecksumAndVectors) {
  struct Case {
    bool hiRom;
    std::uint32_t sizeKb;
    std::uint32_t sramKb;
    std::uint8_t romSizeByte;
    std::uint8_t sramSizeByte;
  };
  const Case cases[] = {
      {false, 256, 8, 8, 3},
      {true, 64, 0, 6, 0},
      {true, 1024, 2, 10, 1},
      {false, 4096, 32, 12, 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.sizeKb) + (c.hiRom ? " KB HiROM" : " KB LoROM"));
    std::vector<std::uint8_t> image;
    std::string error;
    ASSERT_TRUE(makeDemoRom({.hiRom = c.hiRom, .sizeKb = c.sizeKb, .sramKb = c.sramKb, .title = "TEST"},
                            image, error))
        << error;
    ASSERT_EQ(image.size(), c.sizeKb * 1024);
    const std::uint8_t* area = image.data() + (c.hiRom ? kHiRomHeaderAt : kLoRomHeaderAt);
    auto word = [&](std::uint32_t at) { return static_cast<unsigned>(area[at] | (area[at + 1] << 8)); };

    EXPECT_EQ(std::string(area + kHeaderTitle, area + kHeaderTitle + kHeaderTitleLength),
              "TEST                 ");
    for (std::uint32_t i = 0; i < 6; ++i) EXPECT_TRUE(area[i] >= 0x20 && area[i] <= 0x7E) << i;
    EXPECT_EQ(area[kHeaderFixed33], 0x33);
    EXPECT_EQ(area[kHeaderMapMode], c.hiRom ? 0x21 : 0x20);
    EXPECT_EQ(area[kHeaderRomSize], c.romSizeByte);
    EXPECT_EQ(area[kHeaderCartType], c.sramKb ? 0x02 : 0x00);
    EXPECT_EQ(area[kHeaderSramSize], c.sramSizeByte);

    std::uint32_t sum = 0;
    for (std::uint8_t b : image) sum += b;
    EXPECT_EQ(word(kHeaderChecksum), sum & 0xFFFF);
    EXPECT_EQ(word(kHeaderComplement), (~sum) & 0xFFFF);

    unsigned reset = word(kHeaderResetVector);
    EXPECT_GE(reset, 0x8000u);
    // 00:8000 is image offset 0 in LoROM and 0x8000 in HiROM; the code starts with SEI.
    EXPECT_EQ(image[c.hiRom ? reset : reset - 0x8000], 0x78);
  }
}

TEST(DemoRom, TheFlashToolsScoringPicksTheIntendedMapMode) {
  for (bool hiRom : {false, true}) {
    for (std::uint32_t sizeKb : {64u, 512u, 4096u}) {
      for (std::uint32_t sramKb : {0u, 2u, 8u, 32u}) {
        std::vector<std::uint8_t> image;
        std::string error;
        ASSERT_TRUE(makeDemoRom({.hiRom = hiRom, .sizeKb = sizeKb, .sramKb = sramKb}, image, error));
        romwright::ImageClass found =
            romwright::classifyImage(image.data(), static_cast<std::uint32_t>(image.size()));
        EXPECT_EQ(found.isHiRom, hiRom ? 1 : 0) << sizeKb;
        EXPECT_EQ(found.sramKb, static_cast<std::int32_t>(sramKb)) << sizeKb;
      }
    }
  }
}

TEST(DemoRom, RefusesWhatItCannotMake) {
  std::vector<std::uint8_t> image;
  std::string error;
  EXPECT_FALSE(makeDemoRom({.sizeKb = 32}, image, error));
  EXPECT_FALSE(makeDemoRom({.sizeKb = 96}, image, error));
  EXPECT_FALSE(makeDemoRom({.sizeKb = 8192}, image, error));
  EXPECT_FALSE(makeDemoRom({.sramKb = 16}, image, error));
  EXPECT_FALSE(makeDemoRom({.title = "A TITLE OF 22 LETTERS!"}, image, error));
  EXPECT_FALSE(makeDemoRom({.title = "TAB\tTITLE"}, image, error));

  TempDir dir;
  Result r = cartsim({"demo-rom", dir.file("x.sfc"), "--size", "100"});
  EXPECT_EQ(r.status, kCartsimUsage);
  EXPECT_FALSE(fs::exists(dir.file("x.sfc")));
  r = cartsim({"demo-rom", dir.file("demo.sfc"), "--hirom", "--size", "128", "--sram", "2"});
  ASSERT_EQ(r.status, kCartsimOk) << r.err;
  EXPECT_EQ(readWholeFile(dir.file("demo.sfc")).size(), 128u * 1024);
  EXPECT_TRUE(contains(r.out, "128 KB HiROM demo ROM")) << r.out;
}

}  // namespace
}  // namespace vprog
