#include "virtual_programmer/virtual_backend.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cartlink/cartlink.h"
#include "virtual_programmer/cart_file.h"
#include "virtual_programmer/eeprom.h"
#include "virtual_programmer/flash_chip.h"

namespace vprog {
namespace {

struct TempFolder {
  std::string path;
  TempFolder() {
    char name[] = "/tmp/virtual_backend_test.XXXXXX";
    const char* made = mkdtemp(name);
    if (made != nullptr) path = made;
  }
  ~TempFolder() {
    std::error_code ignored;
    if (!path.empty()) std::filesystem::remove_all(path, ignored);
  }
};

VirtualCart smallFlashCart() {
  VirtualCart cart;
  cart.kind = CartKind::Flash;
  cart.chipRow = 2;
  cart.flash.assign(kFlashSize, 0xFF);
  cart.eeprom.assign(kEepromSize, 0xFF);
  cart.sram.assign(8 * 1024, 0x5A);
  return cart;
}

TEST(VirtualBackend, RefusesAMissingOrForeignFileWithAMessage) {
  TempFolder folder;
  ASSERT_FALSE(folder.path.empty());
  const std::string foreign = folder.path + "/foreign.cart";
  std::ofstream(foreign) << "not a cartridge at all";
  for (const std::string& path : {folder.path + "/missing.cart", foreign}) {
    platform::Backend backend;
    std::string error;
    EXPECT_FALSE(makeVirtualBackend(path.c_str(), backend, error)) << path;
    EXPECT_FALSE(error.empty()) << path;
    EXPECT_EQ(backend.owner, nullptr) << path;
    EXPECT_EQ(backend.driver.openEx, nullptr) << path;
  }
}

TEST(VirtualBackend, RunsOnVirtualTimeAndSavesTheCartridgeWhenClosed) {
  TempFolder folder;
  const std::string path = folder.path + "/flash.cart";
  std::string error;
  ASSERT_TRUE(saveCartFile(path, smallFlashCart(), error)) << error;

  platform::Backend backend;
  ASSERT_TRUE(makeVirtualBackend(path.c_str(), backend, error)) << error;
  ASSERT_NE(backend.owner, nullptr);
  cartlink::DeviceLink link = cartlink::makeDeviceLink(backend.driver, backend.clock);
  ASSERT_TRUE(cartlink::open(link, cartlink::kDeviceDescription));
  const std::uint64_t before = cartlink::ticksMs(link);
  cartlink::powerOn(link);
  EXPECT_EQ(cartlink::ticksMs(link) - before, 400u);

  std::vector<std::uint8_t> data(1024);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7);
  cartlink::setControl(link, 0x01);
  cartlink::writeBlock(link, 0x700400, data.data());
  cartlink::readByte(link, 0x306000);  // a violation: HiROM save RAM window under 0x01
  cartlink::setControl(link, 0x00);
  cartlink::powerOff(link);

  VirtualCart saved;
  ASSERT_TRUE(loadCartFile(path, saved, error)) << error;
  EXPECT_TRUE(std::equal(data.begin(), data.end(), saved.sram.begin() + 0x400));
  EXPECT_EQ(saved.sram[0], 0x5A);
  ASSERT_EQ(saved.violations.size(), 1u);
  EXPECT_NE(saved.violations[0].find("30:6000"), std::string::npos) << saved.violations[0];
}

TEST(VirtualBackend, ACartridgeReachedThroughALinkIsSavedBehindTheLink) {
  TempFolder folder;
  const std::string target = folder.path + "/flash.cart";
  const std::string link = folder.path + "/link.cart";
  std::string error;
  ASSERT_TRUE(saveCartFile(target, smallFlashCart(), error)) << error;
  std::filesystem::create_symlink("flash.cart", link);

  platform::Backend backend;
  ASSERT_TRUE(makeVirtualBackend(link.c_str(), backend, error)) << error;
  cartlink::DeviceLink session = cartlink::makeDeviceLink(backend.driver, backend.clock);
  ASSERT_TRUE(cartlink::open(session, cartlink::kDeviceDescription));
  cartlink::powerOn(session);
  const std::vector<std::uint8_t> zeros(1024, 0x00);
  cartlink::setControl(session, 0x01);
  cartlink::writeBlock(session, 0x700000, zeros.data());
  testing::internal::CaptureStderr();
  cartlink::powerOff(session);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

  EXPECT_TRUE(std::filesystem::is_symlink(link));
  VirtualCart saved;
  ASSERT_TRUE(loadCartFile(target, saved, error)) << error;
  EXPECT_TRUE(std::equal(zeros.begin(), zeros.end(), saved.sram.begin()));
}

TEST(VirtualBackend, AFailedSaveIsReportedOnStandardError) {
  TempFolder folder;
  const std::string inner = folder.path + "/inner";
  std::filesystem::create_directory(inner);
  const std::string path = inner + "/flash.cart";
  std::string error;
  ASSERT_TRUE(saveCartFile(path, smallFlashCart(), error)) << error;
  platform::Backend backend;
  ASSERT_TRUE(makeVirtualBackend(path.c_str(), backend, error)) << error;
  cartlink::DeviceLink link = cartlink::makeDeviceLink(backend.driver, backend.clock);
  ASSERT_TRUE(cartlink::open(link, cartlink::kDeviceDescription));
  std::filesystem::remove_all(inner);

  testing::internal::CaptureStderr();
  cartlink::close(link);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("could not save"), std::string::npos) << err;
  EXPECT_NE(err.find(path), std::string::npos) << err;
}

}  // namespace
}  // namespace vprog
