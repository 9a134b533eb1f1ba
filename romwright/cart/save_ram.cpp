#include "romwright/cart/save_ram.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "cartlink/cartlink.h"
#include "romwright/cart/output_file.h"

namespace romwright {
namespace {

constexpr std::uint8_t kControlRest = 0x00;
constexpr std::uint32_t kLargestWindow = 0x8000;
// Save RAM chips come no smaller than 2 KB; below that the halving stops.
constexpr std::uint32_t kSmallestSaveRam = 2048;

// A file's bytes, up to the largest window: a regular file must yield all of
// its bytes up to that point (one that shrinks while read fails); anything
// else readable (a FIFO, a character device) is read to its end.
bool readInputFile(const char* path, std::vector<std::uint8_t>& buffer, std::uint32_t& length) {
  int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat info {};
  bool ok = ::fstat(fd, &info) == 0 && !S_ISDIR(info.st_mode);
  bool regular = ok && S_ISREG(info.st_mode);
  std::size_t want = buffer.size();
  if (regular && static_cast<std::uint64_t>(info.st_size) < want)
    want = static_cast<std::size_t>(info.st_size);
  std::size_t got = 0;
  while (ok && got < want) {
    ssize_t n = ::read(fd, buffer.data() + got, want - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ok = false;
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  if (ok && regular && got < want) ok = false;
  ::close(fd);
  if (!ok) return false;
  std::uint64_t size = regular ? static_cast<std::uint64_t>(info.st_size) : got;
  length = size > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(size);
  return true;
}

}  // namespace

SaveRamWindow saveRamWindow(bool isHiRom) {
  // HiROM boards decode 8 KB of save RAM at 30:6000; LoROM boards up to
  // 32 KB at 70:0000, reached only with the ROM control line raised.
  if (isHiRom) return {0x306000, 0x2000, 0x00};
  return {0x700000, 0x8000, 0x01};
}

bool readSaveRam(CartSession& session, const char* path) {
  cartlink::DeviceLink& link = *session.link;
  std::printf("Reading Save RAM...\n");
  OutputFile file;
  if (!createOutputFile(file, path)) {
    std::printf("ERROR: Could not open %s\n", path);
    return false;
  }
  SaveRamWindow window = saveRamWindow(session.isHiRom != 0);
  std::vector<std::uint8_t> buffer(kLargestWindow);
  cartlink::setControl(link, window.control);
  cartlink::readBlocks(link, window.first, window.length / cartlink::kBlockSize, buffer.data());
  cartlink::setControl(link, kControlRest);
  if (link.ioFailed) return false;

  // A smaller chip repeats through the window, so its first half equals its
  // second; only the start of the buffer is compared.
  std::uint32_t size = window.length;
  while (size > kSmallestSaveRam &&
         std::memcmp(buffer.data(), buffer.data() + size / 2, size / 2) == 0)
    size /= 2;

  if (!writeOutputFile(file, buffer.data(), size) || !finishOutputFile(file)) {
    std::printf("ERROR: Could not write %s\n", path);
    return false;
  }
  std::printf("Read %d Bytes\n", static_cast<int>(size));
  return true;
}

bool writeSaveRam(const char* path, CartSession& session) {
  cartlink::DeviceLink& link = *session.link;
  std::printf("Writing Save RAM...\n");
  // Zero-filled, so the last block sent carries zeros past the file's end.
  std::vector<std::uint8_t> buffer(kLargestWindow, 0x00);
  std::uint32_t length = 0;
  if (!readInputFile(path, buffer, length)) {
    std::printf("ERROR: Could not open %s\n", path);
    return false;
  }
  constexpr auto kBlock = static_cast<std::uint32_t>(cartlink::kBlockSize);
  std::uint32_t count =
      length >= kLargestWindow ? kLargestWindow : (length + kBlock - 1) / kBlock * kBlock;
  SaveRamWindow window = saveRamWindow(session.isHiRom != 0);
  if (count > window.length) count = window.length;

  cartlink::setControl(link, window.control);
  for (std::uint32_t offset = 0; offset < count && !link.ioFailed;
       offset += cartlink::kBlockSize)
    cartlink::writeBlock(link, window.first + offset, buffer.data() + offset);
  cartlink::setControl(link, kControlRest);
  if (link.ioFailed) return false;
  std::printf("Wrote %d Bytes\n", static_cast<int>(count));
  return true;
}

bool clearSaveRam(CartSession& session) {
  cartlink::DeviceLink& link = *session.link;
  const std::vector<std::uint8_t> zeros(cartlink::kBlockSize, 0x00);
  SaveRamWindow window = saveRamWindow(session.isHiRom != 0);
  cartlink::setControl(link, window.control);
  for (std::uint32_t offset = 0; offset < window.length && !link.ioFailed;
       offset += cartlink::kBlockSize)
    cartlink::writeBlock(link, window.first + offset, zeros.data());
  cartlink::setControl(link, kControlRest);
  return !link.ioFailed;
}

}  // namespace romwright
