#include "virtual_programmer/cart_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <set>

#include "virtual_programmer/eeprom.h"
#include "virtual_programmer/flash_chip.h"

namespace vprog {
namespace {

constexpr std::array<std::uint8_t, 8> kMagic = {'C', 'A', 'R', 'T', 'S', 'I', 'M', 0x1A};
constexpr std::size_t kHeaderSize = 16;  // magic, version, content length
constexpr std::size_t kCrcSize = 4;

// Nothing legitimate comes near this (4 MB flash or 8 MB ROM plus a few
// hundred KB); it keeps a wrong path from being read into memory whole.
constexpr std::uint64_t kMaxFileSize = 64u << 20;

constexpr std::size_t kMaxRomSize = 8u << 20;
constexpr std::size_t kMaxGameRamSize = 128u << 10;
constexpr std::int32_t kFlashBlocks = static_cast<std::int32_t>(kFlashSize / 1024);

// Section tags. A new field of the cartridge gets a section of its own, so
// that files written before it still load (the section is then absent and
// the field keeps its default).
constexpr char kTagCart[] = "CART";
constexpr char kTagFlash[] = "FLSH";
constexpr char kTagEeprom[] = "EEPR";
constexpr char kTagRom[] = "ROM ";
constexpr char kTagSram[] = "SRAM";
constexpr char kTagSuperFxRam[] = "SFXR";
constexpr char kTagFaults[] = "FLTS";
constexpr char kTagViolations[] = "VIOL";

constexpr std::size_t kCartPayloadSize = 7;
constexpr std::size_t kFaultsPayloadSize = 25;

// ---- little-endian writer ---------------------------------------------------

struct Writer {
  std::vector<std::uint8_t> bytes;

  void u8(std::uint8_t v) { bytes.push_back(v); }
  void u32(std::uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  }
  void u64(std::uint64_t v) {
    for (int i = 0; i < 8; ++i) bytes.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  }
  void i32(std::int32_t v) { u32(static_cast<std::uint32_t>(v)); }
  void raw(const std::uint8_t* data, std::size_t size) { bytes.insert(bytes.end(), data, data + size); }
  void tag(const char* t) { raw(reinterpret_cast<const std::uint8_t*>(t), 4); }
  void patchU32(std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
  }
};

// Writes a section header with a length placeholder; endSection fills it in.
std::size_t beginSection(Writer& w, const char* tag) {
  w.tag(tag);
  std::size_t at = w.bytes.size();
  w.u32(0);
  return at;
}
void endSection(Writer& w, std::size_t lengthAt) {
  w.patchU32(lengthAt, static_cast<std::uint32_t>(w.bytes.size() - lengthAt - 4));
}

void memorySection(Writer& w, const char* tag, const std::vector<std::uint8_t>& memory) {
  if (memory.empty()) return;
  std::size_t at = beginSection(w, tag);
  w.raw(memory.data(), memory.size());
  endSection(w, at);
}

// ---- bounded little-endian reader ---------------------------------------------

struct Reader {
  const std::uint8_t* data;
  std::size_t size;
  std::size_t pos = 0;

  std::size_t left() const { return size - pos; }
  bool has(std::size_t n) const { return left() >= n; }
  std::uint8_t u8() { return data[pos++]; }
  std::uint32_t u32() {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= static_cast<std::uint32_t>(data[pos++]) << (8 * i);
    return v;
  }
  std::uint64_t u64() {
    std::uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v |= static_cast<std::uint64_t>(data[pos++]) << (8 * i);
    return v;
  }
  std::int32_t i32() { return static_cast<std::int32_t>(u32()); }
};

bool readFlag(Reader& r, bool& flag, const char* what, std::string& error) {
  std::uint8_t v = r.u8();
  if (v > 1) {
    error = std::string("damaged: ") + what + " is " + std::to_string(v) + ", not 0 or 1";
    return false;
  }
  flag = v == 1;
  return true;
}

bool decodeCartSection(Reader& r, VirtualCart& cart, std::string& error) {
  std::uint8_t kind = r.u8();
  std::uint8_t map = r.u8();
  cart.chipRow = r.i32();
  if (kind != static_cast<std::uint8_t>(CartKind::Flash) &&
      kind != static_cast<std::uint8_t>(CartKind::Game)) {
    error = "damaged: unknown cartridge kind " + std::to_string(kind);
    return false;
  }
  if (map > static_cast<std::uint8_t>(MapMode::ExHiRom)) {
    error = "damaged: unknown map mode " + std::to_string(map);
    return false;
  }
  cart.kind = static_cast<CartKind>(kind);
  cart.mapMode = static_cast<MapMode>(map);
  return readFlag(r, cart.hasEeprom, "the EEPROM-fitted flag", error);
}

bool decodeFaultsSection(Reader& r, Faults& f, std::string& error) {
  f.failingBlock = r.i32();
  f.failingBlockStatus = r.u8();
  std::uint8_t erase = r.u8();
  if (erase > static_cast<std::uint8_t>(EraseFault::Late)) {
    error = "damaged: unknown erase fault " + std::to_string(erase);
    return false;
  }
  f.erase = static_cast<EraseFault>(erase);
  f.eraseLateMs = r.u32();
  if (!readFlag(r, f.noEeprom, "the no-EEPROM fault", error)) return false;
  if (!readFlag(r, f.eepromStaysBusy, "the EEPROM-busy fault", error)) return false;
  if (!readFlag(r, f.dirtyContact, "the dirty-contact fault", error)) return false;
  f.unplugAfterBytes = r.u64();
  f.fired = r.u32();
  return true;
}

bool decodeViolationsSection(Reader& r, std::vector<std::string>& violations, std::string& error) {
  if (!r.has(4)) {
    error = "damaged: violations section too short";
    return false;
  }
  std::uint32_t count = r.u32();
  for (std::uint32_t i = 0; i < count; ++i) {
    if (!r.has(4)) {
      error = "damaged: violation " + std::to_string(i + 1) + " is cut off";
      return false;
    }
    std::uint32_t length = r.u32();
    if (!r.has(length)) {
      error = "damaged: violation " + std::to_string(i + 1) + " is cut off";
      return false;
    }
    violations.emplace_back(reinterpret_cast<const char*>(r.data + r.pos), length);
    r.pos += length;
  }
  if (r.left() != 0) {
    error = "damaged: extra bytes after the violations";
    return false;
  }
  return true;
}

std::string sizeText(std::size_t bytes) {
  if (bytes % 1024 == 0) return std::to_string(bytes / 1024) + " KB";
  return std::to_string(bytes) + " bytes";
}

std::string sysError(const std::string& what) { return what + ": " + std::strerror(errno); }

bool writeAll(int fd, const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) {
      errno = EIO;
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

std::uint32_t crc32(const std::uint8_t* data, std::size_t size) {
  static const std::array<std::uint32_t, 256> table = [] {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
      std::uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[i] = c;
    }
    return t;
  }();
  std::uint32_t c = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < size; ++i) c = table[(c ^ data[i]) & 0xFF] ^ (c >> 8);
  return c ^ 0xFFFFFFFFu;
}

bool checkCart(const VirtualCart& cart, std::string& error) {
  if (cart.kind == CartKind::Flash) {
    if (cart.flash.size() != kFlashSize) {
      error = "inconsistent: the flash is " + sizeText(cart.flash.size()) +
              ", a flash cartridge has " + sizeText(kFlashSize);
      return false;
    }
    if (cart.chipRow < 0 || cart.chipRow >= kChipModelCount) {
      error = "inconsistent: flash chip row " + std::to_string(cart.chipRow) + " is not in 0 to " +
              std::to_string(kChipModelCount - 1);
      return false;
    }
    std::size_t kb = cart.sram.size() / 1024;
    if (cart.sram.size() % 1024 != 0 || (kb != 0 && kb != 2 && kb != 8 && kb != 32)) {
      error = "inconsistent: the save RAM is " + sizeText(cart.sram.size()) +
              ", a flash cartridge has 0, 2, 8 or 32 KB";
      return false;
    }
    bool eepromOk = cart.eeprom.size() == kEepromSize || (!cart.hasEeprom && cart.eeprom.empty());
    if (!eepromOk) {
      error = "inconsistent: the EEPROM is " + std::to_string(cart.eeprom.size()) +
              " bytes, a fitted one has " + std::to_string(kEepromSize);
      return false;
    }
    if (!cart.rom.empty() || !cart.superFxRam.empty()) {
      error = "inconsistent: a flash cartridge has no mask ROM and no Super FX RAM";
      return false;
    }
  } else if (cart.kind == CartKind::Game) {
    if (cart.rom.empty() || cart.rom.size() > kMaxRomSize) {
      error = "inconsistent: the ROM is " + sizeText(cart.rom.size()) +
              ", a game cartridge has 1 byte to " + sizeText(kMaxRomSize);
      return false;
    }
    if (cart.sram.size() > kMaxGameRamSize || cart.superFxRam.size() > kMaxGameRamSize) {
      error = "inconsistent: save RAM and Super FX RAM are at most " + sizeText(kMaxGameRamSize);
      return false;
    }
    if (!cart.flash.empty() || !cart.eeprom.empty()) {
      error = "inconsistent: a game cartridge has no flash and no settings EEPROM";
      return false;
    }
    if (cart.mapMode != MapMode::LoRom && cart.mapMode != MapMode::HiRom &&
        cart.mapMode != MapMode::ExHiRom) {
      error = "inconsistent: unknown map mode";
      return false;
    }
  } else {
    error = "inconsistent: unknown cartridge kind";
    return false;
  }
  const Faults& f = cart.faults;
  if (f.failingBlock < -1 || f.failingBlock >= kFlashBlocks) {
    error = "inconsistent: failing block " + std::to_string(f.failingBlock) + " is not in 0 to " +
            std::to_string(kFlashBlocks - 1);
    return false;
  }
  if (f.erase != EraseFault::None && f.erase != EraseFault::Never && f.erase != EraseFault::Late) {
    error = "inconsistent: unknown erase fault";
    return false;
  }
  return true;
}

std::vector<std::uint8_t> encodeCart(const VirtualCart& cart) {
  Writer w;
  w.raw(kMagic.data(), kMagic.size());
  w.u32(kCartFileVersion);
  w.u32(0);  // content length, filled in below

  std::size_t at = beginSection(w, kTagCart);
  w.u8(static_cast<std::uint8_t>(cart.kind));
  w.u8(static_cast<std::uint8_t>(cart.mapMode));
  w.i32(cart.chipRow);
  w.u8(cart.hasEeprom ? 1 : 0);
  endSection(w, at);

  memorySection(w, kTagFlash, cart.flash);
  memorySection(w, kTagEeprom, cart.eeprom);
  memorySection(w, kTagRom, cart.rom);
  memorySection(w, kTagSram, cart.sram);
  memorySection(w, kTagSuperFxRam, cart.superFxRam);

  const Faults& f = cart.faults;
  at = beginSection(w, kTagFaults);
  w.i32(f.failingBlock);
  w.u8(f.failingBlockStatus);
  w.u8(static_cast<std::uint8_t>(f.erase));
  w.u32(f.eraseLateMs);
  w.u8(f.noEeprom ? 1 : 0);
  w.u8(f.eepromStaysBusy ? 1 : 0);
  w.u8(f.dirtyContact ? 1 : 0);
  w.u64(f.unplugAfterBytes);
  w.u32(f.fired);
  endSection(w, at);

  at = beginSection(w, kTagViolations);
  w.u32(static_cast<std::uint32_t>(cart.violations.size()));
  for (const std::string& v : cart.violations) {
    w.u32(static_cast<std::uint32_t>(v.size()));
    w.raw(reinterpret_cast<const std::uint8_t*>(v.data()), v.size());
  }
  endSection(w, at);

  w.patchU32(12, static_cast<std::uint32_t>(w.bytes.size() - kHeaderSize));
  w.u32(crc32(w.bytes.data(), w.bytes.size()));
  return std::move(w.bytes);
}

bool decodeCart(const std::vector<std::uint8_t>& bytes, VirtualCart& cart, std::string& error) {
  std::size_t magicPart = bytes.size() < kMagic.size() ? bytes.size() : kMagic.size();
  if (magicPart > 0 && std::memcmp(bytes.data(), kMagic.data(), magicPart) != 0) {
    error = "not a virtual cartridge file";
    return false;
  }
  if (bytes.size() < kHeaderSize + kCrcSize) {
    error = "truncated: " + std::to_string(bytes.size()) + " bytes, shorter than the file header";
    return false;
  }
  Reader head{bytes.data(), bytes.size(), kMagic.size()};
  std::uint32_t version = head.u32();
  std::uint32_t contentLength = head.u32();
  if (version > kCartFileVersion) {
    error = "written by a newer version of the tools (format " + std::to_string(version) +
            ", this build reads format " + std::to_string(kCartFileVersion) + ")";
    return false;
  }
  if (version == 0) {
    error = "damaged: format version 0";
    return false;
  }
  std::uint64_t expected = std::uint64_t{kHeaderSize} + contentLength + kCrcSize;
  if (bytes.size() < expected) {
    error = "truncated: " + std::to_string(bytes.size()) + " of " + std::to_string(expected) +
            " bytes";
    return false;
  }
  if (bytes.size() > expected) {
    error = "damaged: " + std::to_string(bytes.size() - expected) + " bytes after the end";
    return false;
  }
  std::size_t crcAt = kHeaderSize + contentLength;
  Reader crcReader{bytes.data(), bytes.size(), crcAt};
  if (crcReader.u32() != crc32(bytes.data(), crcAt)) {
    error = "damaged: CRC mismatch";
    return false;
  }

  VirtualCart out;
  std::set<std::string> seen;
  Reader r{bytes.data(), crcAt, kHeaderSize};
  while (r.left() > 0) {
    if (!r.has(8)) {
      error = "damaged: a section header is cut off";
      return false;
    }
    std::string tag(reinterpret_cast<const char*>(r.data + r.pos), 4);
    r.pos += 4;
    std::uint32_t length = r.u32();
    if (!r.has(length)) {
      error = "damaged: section \"" + tag + "\" is cut off";
      return false;
    }
    if (!seen.insert(tag).second) {
      error = "damaged: section \"" + tag + "\" appears twice";
      return false;
    }
    Reader payload{r.data + r.pos, length};
    r.pos += length;
    auto memory = [&](std::vector<std::uint8_t>& target) {
      target.assign(payload.data, payload.data + payload.size);
    };
    bool ok = true;
    if (tag == kTagCart) {
      if (length != kCartPayloadSize) {
        error = "damaged: cartridge section is " + std::to_string(length) + " bytes";
        return false;
      }
      ok = decodeCartSection(payload, out, error);
    } else if (tag == kTagFaults) {
      if (length != kFaultsPayloadSize) {
        error = "damaged: faults section is " + std::to_string(length) + " bytes";
        return false;
      }
      ok = decodeFaultsSection(payload, out.faults, error);
    } else if (tag == kTagViolations) {
      ok = decodeViolationsSection(payload, out.violations, error);
    } else if (tag == kTagFlash) {
      memory(out.flash);
    } else if (tag == kTagEeprom) {
      memory(out.eeprom);
    } else if (tag == kTagRom) {
      memory(out.rom);
    } else if (tag == kTagSram) {
      memory(out.sram);
    } else if (tag == kTagSuperFxRam) {
      memory(out.superFxRam);
    } else {
      error = "unknown section \"" + tag + "\" (written by a newer version of the tools?)";
      return false;
    }
    if (!ok) return false;
  }
  if (seen.count(kTagCart) == 0) {
    error = "damaged: no cartridge section";
    return false;
  }
  if (!checkCart(out, error)) return false;
  cart = std::move(out);
  return true;
}

bool loadCartFile(const std::string& path, VirtualCart& cart, std::string& error) {
  // Non-blocking, so that a FIFO given by mistake is refused instead of
  // waiting for a writer.
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    error = errno == ENOENT ? path + ": no such file" : sysError(path);
    return false;
  }
  struct FdCloser {
    int fd;
    ~FdCloser() { ::close(fd); }
  } closer{fd};

  struct stat st{};
  if (::fstat(fd, &st) != 0) {
    error = sysError(path);
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    error = path + ": not a regular file";
    return false;
  }
  if (static_cast<std::uint64_t>(st.st_size) > kMaxFileSize) {
    error = path + ": not a virtual cartridge file (" + std::to_string(st.st_size) +
            " bytes, far too long)";
    return false;
  }
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(st.st_size));
  std::size_t got = 0;
  while (got < bytes.size()) {
    ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
    if (n < 0) {
      if (errno == EINTR) continue;
      error = sysError(path);
      return false;
    }
    if (n == 0) break;  // shrank while being read: the decoder calls it truncated
    got += static_cast<std::size_t>(n);
  }
  bytes.resize(got);

  std::string why;
  if (!decodeCart(bytes, cart, why)) {
    error = path + ": " + why;
    return false;
  }
  return true;
}

bool saveCartFile(const std::string& path, const VirtualCart& cart, std::string& error) {
  std::string why;
  if (!checkCart(cart, why)) {
    error = path + ": not saved, " + why;
    return false;
  }

  // Renaming would replace a directory entry of any type; only a regular
  // file (or nothing) may be replaced, never a device node, FIFO, symbolic
  // link or folder.
  auto targetAllowed = [&]() {
    struct stat st{};
    if (::lstat(path.c_str(), &st) == 0) {
      if (S_ISREG(st.st_mode)) return true;
      error = path + ": exists and is not a regular file; not replaced";
      return false;
    }
    if (errno == ENOENT) return true;
    error = sysError(path);
    return false;
  };
  if (!targetAllowed()) return false;

  mode_t mode = 0644;
  struct stat old{};
  if (::stat(path.c_str(), &old) == 0) mode = old.st_mode & 07777;

  std::string::size_type slash = path.rfind('/');
  std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  std::string temp = folder + (folder == "/" ? "" : "/") + "." + base + ".XXXXXX";
  int fd = ::mkstemp(temp.data());
  if (fd < 0) {
    error = sysError(path + ": cannot create a temporary file in " + folder);
    return false;
  }

  std::vector<std::uint8_t> bytes = encodeCart(cart);
  bool ok = writeAll(fd, bytes.data(), bytes.size());
  if (!ok) error = sysError(path + ": writing " + temp);
  if (ok && ::fchmod(fd, mode) != 0) {
    ok = false;
    error = sysError(path + ": setting the mode of " + temp);
  }
  if (ok && ::fsync(fd) != 0) {
    ok = false;
    error = sysError(path + ": flushing " + temp);
  }
  if (::close(fd) != 0 && ok) {
    ok = false;
    error = sysError(path + ": closing " + temp);
  }
  if (ok && !targetAllowed()) ok = false;
  if (ok && ::rename(temp.c_str(), path.c_str()) != 0) {
    ok = false;
    error = sysError(path + ": renaming " + temp);
  }
  if (!ok) {
    ::unlink(temp.c_str());
    return false;
  }

  // The rename itself lasts across a power cut only once the folder is on disk.
  int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    ::fsync(dirFd);
    ::close(dirFd);
  }
  return true;
}

}  // namespace vprog
