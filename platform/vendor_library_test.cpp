#include <gtest/gtest.h>

#include <cstdint>

#include "platform/vendor_library.h"

namespace platform {
namespace {

// The test runs with LD_LIBRARY_PATH naming the folder of a fake libftd2xx.so.
TEST(VendorLibrary, FoundThroughLibraryPathAndCallsRouted) {
  VendorLibrary library;
  std::string error;
  ASSERT_TRUE(loadVendorLibrary(library, kVendorLibraryName, error)) << error;
  Driver driver = vendorDriver(library);

  FtHandle handle = nullptr;
  char wrong[] = "USB SOMETHING ELSE";
  EXPECT_NE(driver.openEx(driver.state, wrong, kOpenByDescription, &handle), kFtOk);
  char description[] = "FAKE DEVICE";
  ASSERT_EQ(driver.openEx(driver.state, description, kOpenByDescription, &handle), kFtOk);
  ASSERT_NE(handle, nullptr);

  std::uint8_t out[3] = {0x52, 0x00, 0x7C};
  Dword written = 0;
  EXPECT_EQ(driver.write(driver.state, handle, out, 3, &written), kFtOk);
  EXPECT_EQ(written, 3u);
  std::uint8_t in[3] = {};
  Dword received = 0;
  EXPECT_EQ(driver.read(driver.state, handle, in, 3, &received), kFtOk);
  EXPECT_EQ(received, 3u);
  EXPECT_EQ(in[0], 0x52);
  EXPECT_EQ(in[2], 0x7C);
  EXPECT_EQ(driver.close(driver.state, handle), kFtOk);
  unloadVendorLibrary(library);
  EXPECT_EQ(library.module, nullptr);
}

TEST(VendorLibrary, MissingLibraryOrSymbolIsAnError) {
  VendorLibrary library;
  std::string error;
  EXPECT_FALSE(loadVendorLibrary(library, "libno-such-driver-here.so", error));
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(library.module, nullptr);
  // The C library is loadable but exports none of the four calls.
  error.clear();
  EXPECT_FALSE(loadVendorLibrary(library, "libc.so.6", error));
  EXPECT_NE(error.find("FT_OpenEx"), std::string::npos);
  EXPECT_EQ(library.module, nullptr);
}

}  // namespace
}  // namespace platform
