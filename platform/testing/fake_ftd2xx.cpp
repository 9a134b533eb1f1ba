// A stand-in for the vendor's D2XX library with the same four exported calls,
// so the loader's symbol lookup and call routing can be tested. It echoes
// written bytes back to reads and counts every call.
#include <cstdint>
#include <cstring>

namespace {
std::uint8_t echo[256];
std::uint32_t echoed = 0;
int handleToken = 0;
}  // namespace

extern "C" {

__attribute__((visibility("default"))) std::uint32_t FT_OpenEx(void* arg, std::uint32_t flags,
                                                               void** handle) {
  if (flags != 2 || std::strcmp(static_cast<const char*>(arg), "FAKE DEVICE") != 0) return 2;
  *handle = &handleToken;
  return 0;
}

__attribute__((visibility("default"))) std::uint32_t FT_Write(void* handle, void* buffer,
                                                              std::uint32_t count,
                                                              std::uint32_t* written) {
  if (handle != &handleToken || count > sizeof echo) return 4;
  std::memcpy(echo, buffer, count);
  echoed = count;
  *written = count;
  return 0;
}

__attribute__((visibility("default"))) std::uint32_t FT_Read(void* handle, void* buffer,
                                                             std::uint32_t count,
                                                             std::uint32_t* received) {
  if (handle != &handleToken) return 4;
  std::uint32_t n = count < echoed ? count : echoed;
  std::memcpy(buffer, echo, n);
  *received = n;
  return 0;
}

__attribute__((visibility("default"))) std::uint32_t FT_Close(void* handle) {
  return handle == &handleToken ? 0 : 4;
}
}
