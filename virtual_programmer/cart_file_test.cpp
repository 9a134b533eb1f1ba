#include "virtual_programmer/cart_file.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <random>

#include "platform/testing/program_run.h"
#include "virtual_programmer/flash_chip.h"

namespace vprog {
namespace {

namespace fs = std::filesystem;

using platform::testing::folderEntries;
using platform::testing::TempDir;
using platform::testing::readWholeFile;
using platform::testing::writeWholeFile;


Faults everyFault() {
  Faults f;
  f.failingBlock = 4095;
  f.failingBlockStatus = 0x81;
  f.erase = EraseFault::Late;
  f.eraseLateMs = 123456;
  f.noEeprom = true;
  f.eepromStaysBusy = true;
  f.dirtyContact = true;
  f.unplugAfterBytes = 0x123456789ull;
  f.fired = 77;
  return f;
}

VirtualCart flashCart() {
  VirtualCart cart;
  cart.kind = CartKind::Flash;
  cart.chipRow = 5;
  cart.flash.assign(kFlashSize, 0xFF);
  for (std::uint32_t i = 0; i < kFlashSize; i += 4099) cart.flash[i] = static_cast<std::uint8_t>(i >> 3);
  cart.flash.back() = 0x00;
  cart.eeprom.assign(128, 0xFF);
  cart.eeprom[0] = 0x70;
  cart.eeprom[1] = '/';
  cart.sram.assign(8 * 1024, 0x5A);
  cart.faults = everyFault();
  cart.violations = {"block write at 05:8400 while an erase was running", ""};
  return cart;
}

// Small enough that every truncation of its file can be tried.
VirtualCart smallGameCart() {
  VirtualCart cart;
  cart.kind = CartKind::Game;
  cart.mapMode = MapMode::ExHiRom;
  cart.hasEeprom = false;
  for (int i = 0; i < 48; ++i) cart.rom.push_back(static_cast<std::uint8_t>(i * 7));
  cart.sram = {1, 2, 3, 4, 5};
  cart.superFxRam = {9, 8, 7};
  cart.faults.dirtyContact = true;
  cart.faults.unplugAfterBytes = 4096;
  cart.faults.fired = 2;
  cart.violations = {"control 0x07", "read at 7E:0000"};
  return cart;
}

void expectSame(const VirtualCart& a, const VirtualCart& b) {
  EXPECT_EQ(a.kind, b.kind);
  EXPECT_EQ(a.chipRow, b.chipRow);
  EXPECT_EQ(a.mapMode, b.mapMode);
  EXPECT_EQ(a.hasEeprom, b.hasEeprom);
  EXPECT_TRUE(a.flash == b.flash);
  EXPECT_EQ(a.eeprom, b.eeprom);
  EXPECT_EQ(a.rom, b.rom);
  EXPECT_EQ(a.sram, b.sram);
  EXPECT_EQ(a.superFxRam, b.superFxRam);
  EXPECT_EQ(a.faults.failingBlock, b.faults.failingBlock);
  EXPECT_EQ(a.faults.failingBlockStatus, b.faults.failingBlockStatus);
  EXPECT_EQ(a.faults.erase, b.faults.erase);
  EXPECT_EQ(a.faults.eraseLateMs, b.faults.eraseLateMs);
  EXPECT_EQ(a.faults.noEeprom, b.faults.noEeprom);
  EXPECT_EQ(a.faults.eepromStaysBusy, b.faults.eepromStaysBusy);
  EXPECT_EQ(a.faults.dirtyContact, b.faults.dirtyContact);
  EXPECT_EQ(a.faults.unplugAfterBytes, b.faults.unplugAfterBytes);
  EXPECT_EQ(a.faults.fired, b.faults.fired);
  EXPECT_EQ(a.violations, b.violations);
}

// The CRC is put right again after an edit, so that the check behind it is reached.
void reseal(std::vector<std::uint8_t>& bytes) {
  std::size_t at = bytes.size() - 4;
  std::uint32_t crc = crc32(bytes.data(), at);
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(crc >> (8 * i));
}

std::size_t findTag(const std::vector<std::uint8_t>& bytes, const char* tag) {
  std::string s(bytes.begin(), bytes.end());
  std::size_t at = s.find(tag, 16);
  EXPECT_NE(at, std::string::npos) << tag;
  return at;
}

TEST(CartFile, Crc32MatchesTheZipCheckValue) {
  const char text[] = "123456789";
  EXPECT_EQ(crc32(reinterpret_cast<const std::uint8_t*>(text), 9), 0xCBF43926u);
}

TEST(CartFile, FlashAndGameCartridgesSurviveSaveAndLoad) {
  TempDir dir;
  for (const VirtualCart& original : {flashCart(), smallGameCart()}) {
    std::string path = dir.file("cart.vcart");
    std::string error;
    ASSERT_TRUE(saveCartFile(path, original, error)) << error;
    VirtualCart loaded;
    ASSERT_TRUE(loadCartFile(path, loaded, error)) << error;
    expectSame(original, loaded);
    EXPECT_EQ(readWholeFile(path), encodeCart(original));
  }
  EXPECT_EQ(folderEntries(dir.path), std::vector<std::string>{"cart.vcart"});
}

TEST(CartFile, AFlashCartridgeWithoutEepromNeedsNoEepromBytes) {
  VirtualCart cart = flashCart();
  cart.hasEeprom = false;
  cart.eeprom.clear();
  VirtualCart loaded;
  std::string error;
  ASSERT_TRUE(decodeCart(encodeCart(cart), loaded, error)) << error;
  expectSame(cart, loaded);
}

TEST(CartFile, RefusesBadFilesAndLeavesTheCartridgeAlone) {
  const std::vector<std::uint8_t> good = encodeCart(smallGameCart());
  using Edit = std::function<void(std::vector<std::uint8_t>&)>;
  auto fromCart = [](std::function<void(VirtualCart&)> change) -> Edit {
    return [change](std::vector<std::uint8_t>& bytes) {
      VirtualCart cart = flashCart();
      change(cart);
      bytes = encodeCart(cart);
    };
  };
  auto patchByte = [](const char* tag, std::size_t offsetInPayload, std::uint8_t value) -> Edit {
    return [=](std::vector<std::uint8_t>& bytes) {
      bytes[findTag(bytes, tag) + 8 + offsetInPayload] = value;
      reseal(bytes);
    };
  };
  struct Case {
    const char* name;
    Edit edit;
    const char* message;
  };
  const Case cases[] = {
      {"empty", [](auto& b) { b.clear(); }, "truncated"},
      {"foreign", [](auto& b) { b.assign({'P', 'K', 3, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}); },
       "not a virtual cartridge file"},
      {"newer", [](auto& b) { b[8] = 2; }, "newer version"},
      {"version 0", [](auto& b) { b[8] = 0; }, "version 0"},
      {"crc", [](auto& b) { b[30] ^= 0x01; }, "CRC"},
      {"crc itself", [](auto& b) { b.back() ^= 0x80; }, "CRC"},
      {"truncated", [](auto& b) { b.pop_back(); }, "truncated"},
      {"trailing", [](auto& b) { b.push_back(0); }, "after the end"},
      {"unknown section", [](auto& b) { std::copy_n("XTRA", 4, b.begin() + findTag(b, "VIOL")); reseal(b); },
       "unknown section \"XTRA\""},
      {"duplicate section", [](auto& b) { std::copy_n("SRAM", 4, b.begin() + findTag(b, "SFXR")); reseal(b); },
       "appears twice"},
      {"unknown kind", patchByte("CART", 0, 3), "kind"},
      {"unknown map", patchByte("CART", 1, 3), "map mode"},
      {"bad flag", patchByte("CART", 6, 2), "not 0 or 1"},
      {"unknown erase fault", patchByte("FLTS", 5, 3), "erase fault"},
      {"violation cut off", patchByte("VIOL", 4, 200), "cut off"},
      {"flash not 4 MB", fromCart([](VirtualCart& c) { c.flash.resize(kFlashSize / 2); }), "flash is 2048 KB"},
      {"flash sram 4 KB", fromCart([](VirtualCart& c) { c.sram.resize(4096); }), "save RAM is 4 KB"},
      {"flash sram odd", fromCart([](VirtualCart& c) { c.sram.resize(2047); }), "save RAM is 2047 bytes"},
      {"eeprom 64", fromCart([](VirtualCart& c) { c.eeprom.resize(64); }), "EEPROM is 64 bytes"},
      {"eeprom missing", fromCart([](VirtualCart& c) { c.eeprom.clear(); }), "EEPROM is 0 bytes"},
      {"chip row 9", fromCart([](VirtualCart& c) { c.chipRow = kChipModelCount; }), "chip row 9"},
      {"chip row -1", fromCart([](VirtualCart& c) { c.chipRow = -1; }), "chip row -1"},
      {"failing block", fromCart([](VirtualCart& c) { c.faults.failingBlock = 4096; }), "failing block 4096"},
      {"flash with rom", fromCart([](VirtualCart& c) { c.rom = {1}; }), "no mask ROM"},
      {"rom over 8 MB",
       fromCart([](VirtualCart& c) {
         c.kind = CartKind::Game;
         c.flash.clear();
         c.eeprom.clear();
         c.rom.assign((8u << 20) + 1, 0);
       }),
       "ROM is 8388609 bytes"},
      {"game without rom",
       fromCart([](VirtualCart& c) {
         c.kind = CartKind::Game;
         c.flash.clear();
         c.eeprom.clear();
       }),
       "ROM is 0 KB"},
      {"game sram 129 KB",
       fromCart([](VirtualCart& c) {
         c.kind = CartKind::Game;
         c.flash.clear();
         c.eeprom.clear();
         c.rom.assign(1024, 0);
         c.sram.assign(129 * 1024, 0);
       }),
       "at most 128 KB"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::uint8_t> bytes = good;
    c.edit(bytes);
    VirtualCart cart = smallGameCart();
    cart.violations.push_back("sentinel");
    std::string error;
    EXPECT_FALSE(decodeCart(bytes, cart, error));
    EXPECT_NE(error.find(c.message), std::string::npos) << error;
    EXPECT_EQ(cart.violations.back(), "sentinel");
    EXPECT_EQ(cart.rom, smallGameCart().rom);
  }
}

TEST(CartFile, EveryTruncationIsRefused) {
  const std::vector<std::uint8_t> good = encodeCart(smallGameCart());
  for (std::size_t length = 0; length < good.size(); ++length) {
    std::vector<std::uint8_t> cut(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(length));
    VirtualCart cart;
    std::string error;
    EXPECT_FALSE(decodeCart(cut, cart, error)) << length;
    EXPECT_NE(error.find("truncated"), std::string::npos) << length << ": " << error;
  }
}

TEST(CartFile, ByteFlipsAreRefusedOrLoadConsistently) {
  const std::vector<std::uint8_t> good = encodeCart(smallGameCart());
  std::mt19937 random(12345);
  std::uniform_int_distribution<std::size_t> position(0, good.size() - 1);
  std::uniform_int_distribution<int> bit(0, 7);
  for (int round = 0; round < 3000; ++round) {
    std::vector<std::uint8_t> bytes = good;
    int flips = 1 + round % 3;
    for (int i = 0; i < flips; ++i) bytes[position(random)] ^= static_cast<std::uint8_t>(1u << bit(random));
    if (bytes == good) continue;
    VirtualCart cart;
    std::string error;
    // Damage alone never gets past the CRC ...
    EXPECT_FALSE(decodeCart(bytes, cart, error)) << round;
    // ... and with the CRC made to fit, the content checks refuse it or it
    // loads as a cartridge that is stored again byte for byte.
    if (bytes.size() >= 20 && bytes[8] == 1 && bytes[9] == 0 && bytes[10] == 0 && bytes[11] == 0) {
      reseal(bytes);
      if (decodeCart(bytes, cart, error)) {
        EXPECT_TRUE(checkCart(cart, error)) << error;
        EXPECT_EQ(encodeCart(cart), bytes) << round;
      } else {
        EXPECT_FALSE(error.empty());
      }
    }
  }
}

TEST(CartFile, LoadNamesThePathAndRefusesWhatIsNoFile) {
  TempDir dir;
  std::string error;
  VirtualCart cart;
  EXPECT_FALSE(loadCartFile(dir.file("missing.vcart"), cart, error));
  EXPECT_EQ(error, dir.file("missing.vcart") + ": no such file");

  std::vector<std::uint8_t> bytes = encodeCart(smallGameCart());
  bytes.resize(bytes.size() / 2);
  writeWholeFile(dir.file("short.vcart"), bytes);
  EXPECT_FALSE(loadCartFile(dir.file("short.vcart"), cart, error));
  EXPECT_EQ(error.rfind(dir.file("short.vcart") + ": truncated", 0), 0u) << error;

  // Would block on open or read if it were taken for a file.
  ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0600), 0);
  EXPECT_FALSE(loadCartFile(dir.file("fifo"), cart, error));
  EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
  EXPECT_FALSE(loadCartFile(dir.path, cart, error));
  EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
}

TEST(CartFile, SaveNeverReplacesWhatIsNotARegularFile) {
  TempDir dir;
  ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0600), 0);
  ASSERT_TRUE(fs::create_directory(dir.file("folder")));
  writeWholeFile(dir.file("target"), {1, 2, 3});
  fs::create_symlink(dir.file("target"), dir.file("link"));

  const std::vector<std::string> before = folderEntries(dir.path);
  struct Case {
    const char* name;
    fs::file_type type;
  };
  for (const Case& c : {Case{"fifo", fs::file_type::fifo}, Case{"folder", fs::file_type::directory},
                        Case{"link", fs::file_type::symlink}}) {
    SCOPED_TRACE(c.name);
    std::string error;
    EXPECT_FALSE(saveCartFile(dir.file(c.name), smallGameCart(), error));
    EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
    EXPECT_EQ(fs::symlink_status(dir.file(c.name)).type(), c.type);
  }
  EXPECT_EQ(folderEntries(dir.path), before);
  EXPECT_EQ(readWholeFile(dir.file("target")), (std::vector<std::uint8_t>{1, 2, 3}));
}

TEST(CartFile, SaveIntoAMissingFolderFailsAndCreatesNothing) {
  TempDir dir;
  std::string error;
  EXPECT_FALSE(saveCartFile(dir.file("no/such/folder/cart.vcart"), smallGameCart(), error));
  EXPECT_NE(error.find("cannot create a temporary file"), std::string::npos) << error;
  EXPECT_TRUE(folderEntries(dir.path).empty());
}

TEST(CartFile, AnInconsistentCartridgeIsNotSaved) {
  TempDir dir;
  std::string path = dir.file("cart.vcart");
  std::string error;
  ASSERT_TRUE(saveCartFile(path, smallGameCart(), error)) << error;
  VirtualCart bad = flashCart();
  bad.sram.resize(3000);
  EXPECT_FALSE(saveCartFile(path, bad, error));
  EXPECT_NE(error.find("save RAM"), std::string::npos) << error;
  EXPECT_EQ(readWholeFile(path), encodeCart(smallGameCart()));
}

// A write that fails halfway (here: the file size limit, in a child process
// so the limit stays there) leaves the old file as it was and no temporary
// file behind.
TEST(CartFile, AFailedWriteLeavesTheOldFile) {
  TempDir dir;
  std::string path = dir.file("cart.vcart");
  std::string error;
  ASSERT_TRUE(saveCartFile(path, smallGameCart(), error)) << error;
  const std::vector<std::uint8_t> before = readWholeFile(path);

  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit{1u << 20, 1u << 20};
    setrlimit(RLIMIT_FSIZE, &limit);
    std::string childError;
    bool saved = saveCartFile(path, flashCart(), childError);
    bool named = childError.find("writing") != std::string::npos;
    _exit(saved ? 1 : named ? 0 : 2);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(readWholeFile(path), before);
  EXPECT_EQ(folderEntries(dir.path), std::vector<std::string>{"cart.vcart"});
}

TEST(CartFile, SaveReplacesAnOldFileAndKeepsItsMode) {
  TempDir dir;
  std::string path = dir.file("cart.vcart");
  std::string error;
  ASSERT_TRUE(saveCartFile(path, smallGameCart(), error)) << error;
  ASSERT_EQ(chmod(path.c_str(), 0640), 0);
  ASSERT_TRUE(saveCartFile(path, flashCart(), error)) << error;
  VirtualCart loaded;
  ASSERT_TRUE(loadCartFile(path, loaded, error)) << error;
  expectSame(flashCart(), loaded);
  struct stat st{};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(folderEntries(dir.path), std::vector<std::string>{"cart.vcart"});
}

}  // namespace
}  // namespace vprog
