// A stand-in for the vendor's D2XX library with the same four exported calls,
// so the loader's symbol lookup and call routing can be tested. It echoes
// written bytes back to reads. When FAKE_FTD2XX_LOG names a file, every
// written byte is appended to it, so a test can check a program's traffic.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
std::uint8_t echo[256];
std::uint32_t echoed = 0;
int handleToken = 0;
}  // namespace

extern "C" {

__attribute__((visibility("default"))) std::uint32_t FT_OpenEx(void* arg, std::uint32_t flags,
                                                               void** handle) {
  const char* description = static_cast<const char*>(arg);
  if (flags != 2 || (std::strcmp(description, "FAKE DEVICE") != 0 &&
                     std::strcmp(description, "USB ROMWRIGHT") != 0))
    return 2;
  *handle = &handleToken;
  return 0;
}

__attribute__((visibility("default"))) std::uint32_t FT_Write(void* handle, void* buffer,
                                                              std::uint32_t count,
                                                              std::uint32_t* written) {
  if (handle != &handleToken || count > sizeof echo) return 4;
  std::memcpy(echo, buffer, count);
  echoed = count;
  if (const char* log = std::getenv("FAKE_FTD2XX_LOG")) {
    if (std::FILE* file = std::fopen(log, "ab")) {
      std::fwrite(buffer, 1, count, file);
      std::fclose(file);
    }
  }
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
