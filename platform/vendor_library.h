// The vendor's D2XX library, loaded at run time so that the programs build
// and start on machines that do not have it.
#pragma once

#include <string>

#include "platform/driver.h"

namespace platform {

struct VendorLibrary {
  void* module = nullptr;  // dlopen handle
  FtStatus (*openEx)(void* arg, Dword flags, FtHandle* handle) = nullptr;
  FtStatus (*write)(FtHandle handle, void* buffer, Dword count, Dword* written) = nullptr;
  FtStatus (*read)(FtHandle handle, void* buffer, Dword count, Dword* received) = nullptr;
  FtStatus (*close)(FtHandle handle) = nullptr;
};

inline constexpr const char* kVendorLibraryName = "libftd2xx.so";

// Loads the library through the normal search (LD_LIBRARY_PATH included) and
// resolves the four calls by name. On failure, error says what went wrong and
// nothing stays loaded.
bool loadVendorLibrary(VendorLibrary& library, const char* soname, std::string& error);
void unloadVendorLibrary(VendorLibrary& library);

// A driver table routing every call to the loaded library.
Driver vendorDriver(VendorLibrary& library);

}  // namespace platform
