// The driver seam: the four calls of FTDI's D2XX library that the programmer
// link needs, as a table of function pointers with the state of the backend
// behind them. Backends: the vendor library loaded at run time, the virtual
// programmer, and the recording fake of the tests.
#pragma once

#include <cstdint>

namespace platform {

// The vendor library's Linux ABI: handles are pointers, status and counts are
// 32-bit unsigned, status 0 is success.
using FtHandle = void*;
using FtStatus = std::uint32_t;
using Dword = std::uint32_t;

inline constexpr FtStatus kFtOk = 0;
inline constexpr FtStatus kFtDeviceNotFound = 2;
inline constexpr FtStatus kFtIoError = 4;
inline constexpr Dword kOpenByDescription = 2;

struct Driver {
  const char* name;  // for messages on stderr: "vendor library", "virtual programmer", ...
  void* state;       // the backend's own record, handed to every call
  FtStatus (*openEx)(void* state, void* arg, Dword flags, FtHandle* handle);
  FtStatus (*write)(void* state, FtHandle handle, void* buffer, Dword count, Dword* written);
  FtStatus (*read)(void* state, FtHandle handle, void* buffer, Dword count, Dword* received);
  FtStatus (*close)(void* state, FtHandle handle);
};

// A driver whose open always fails with kFtDeviceNotFound; used when no
// backend could be set up, so the programs report a missing device.
Driver unavailableDriver();

}  // namespace platform
