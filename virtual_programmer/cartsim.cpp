#include "virtual_programmer/cartsim.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <optional>

#include "virtual_programmer/board.h"
#include "virtual_programmer/cart_file.h"
#include "virtual_programmer/cart_state.h"
#include "virtual_programmer/demo_rom.h"
#include "virtual_programmer/eeprom.h"
#include "virtual_programmer/flash_chip.h"

namespace vprog {

const char* const kCartsimHelp =
    "usage: cartsim COMMAND FILE [OPTIONS]\n"
    "\n"
    "Virtual cartridge files stand in for a board and its cartridge: run\n"
    "romwright with CARTLINK_VIRTUAL_CART=FILE.\n"
    "\n"
    "  cartsim new FILE --flash [--chip ROW|NAME] [--eeprom|--no-eeprom] [--sram KB]\n"
    "      A blank flash cartridge: flash erased (0xFF), settings EEPROM blank\n"
    "      (0xFF) unless --no-eeprom, save RAM of 0, 2, 8 or 32 KB (default 32).\n"
    "      The chip is a row of `cartsim chips` or a name from it (default 0).\n"
    "  cartsim new FILE --game ROMFILE --map lorom|hirom|exhirom [--sram KB]\n"
    "                   [--superfx-ram KB]\n"
    "      A game cartridge holding the ROM of ROMFILE (a 512-byte copier header\n"
    "      is dropped); save RAM and Super FX RAM up to 128 KB (default none).\n"
    "      New static RAM holds a fixed pseudo-random power-up pattern.\n"
    "  cartsim show FILE\n"
    "      Kind, chip, map mode, sizes and CRC-32 of each memory, the settings\n"
    "      record, faults and the protocol violations the board saw.\n"
    "  cartsim export FILE [--rom OUT] [--sram OUT] [--eeprom OUT] [--superfx-ram OUT]\n"
    "      Copies memories to plain files (--rom: the flash of a flash cartridge).\n"
    "  cartsim fault FILE [--fail-block N[:STATUS]] [--erase never|late:MS]\n"
    "                     [--no-eeprom] [--eeprom-busy] [--dirty] [--unplug-after N]\n"
    "                     [--clear] [--clear-violations]\n"
    "      Sets faults the board injects (combinable; --clear first removes all):\n"
    "        --fail-block N[:STATUS]  programming 1 KB block N (0-4095) fails and\n"
    "                                 answers STATUS (a number or one character;\n"
    "                                 default X)\n"
    "        --erase never|late:MS    erases never finish, or take MS ms longer\n"
    "        --no-eeprom              the settings EEPROM does not answer\n"
    "        --eeprom-busy            EEPROM write cycles never end\n"
    "        --dirty                  repeated reads of a block differ somewhat\n"
    "        --unplug-after N         the board is gone after N bytes (0: never)\n"
    "        --clear-violations       forgets the protocol violations\n"
    "  cartsim demo-rom OUT [--hirom] [--size KB] [--sram KB] [--title TEXT]\n"
    "      Writes a made-up ROM image with a valid LoROM (or HiROM) header:\n"
    "      size a power of two from 64 to 4096 KB (default 256), save RAM 0, 2,\n"
    "      8 or 32 KB (default 8).\n"
    "  cartsim chips\n"
    "      Lists the flash chips a flash cartridge can carry.\n"
    "\n"
    "Exit status: 0 done, 1 a file could not be read, was refused or could not\n"
    "be written, 2 the command line is wrong.\n";

std::vector<std::uint8_t> powerUpRam(std::size_t size) {
  std::vector<std::uint8_t> ram(size);
  fillPseudoRandom(ram, 0x9E3779B9u);
  return ram;
}

namespace {

constexpr std::uint32_t kMaxGameRamKb = 128;
constexpr std::size_t kMaxRomFile = (8u << 20) + 512;
constexpr std::uint32_t kFlashBlockCount = kFlashSize / 1024;

struct Io {
  std::FILE* out;
  std::FILE* err;
};

// A command's failure: the message and the exit status.
struct Failure {
  int status;
  std::string message;
};

Failure usage(const std::string& message) { return {kCartsimUsage, message}; }
Failure failed(const std::string& message) { return {kCartsimFailed, message}; }

// Decimal, or hexadecimal after 0x; digits only, no sign.
bool parseNumber(const std::string& text, std::uint64_t max, std::uint64_t& value) {
  std::size_t i = 0;
  unsigned base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    i = 2;
  }
  if (i >= text.size()) return false;
  std::uint64_t v = 0;
  for (; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    unsigned digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (base == 16 && std::isxdigit(c)) {
      digit = static_cast<unsigned>(std::tolower(c) - 'a' + 10);
    } else {
      return false;
    }
    if (v > (max - digit) / base) return false;
    v = v * base + digit;
  }
  value = v;
  return true;
}

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string hex(std::uint64_t v, int digits) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "0x%0*llX", digits, static_cast<unsigned long long>(v));
  return buffer;
}

std::string crcText(const std::vector<std::uint8_t>& memory) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%08X", crc32(memory.data(), memory.size()));
  return buffer;
}

std::string sizeText(std::size_t bytes) {
  if (bytes % 1024 == 0) return std::to_string(bytes / 1024) + " KB";
  return std::to_string(bytes) + " bytes";
}

std::string statusText(std::uint8_t status) {
  std::string s;
  if (status >= 0x21 && status <= 0x7E) s = std::string("'") + static_cast<char>(status) + "' ";
  return s + "(" + hex(status, 2) + ")";
}

const char* mapName(MapMode mode) {
  switch (mode) {
    case MapMode::LoRom: return "LoROM";
    case MapMode::HiRom: return "HiROM";
    case MapMode::ExHiRom: return "ExHiROM";
  }
  return "?";
}

// Finds a chip by row number, full name, part number, or a piece of the
// name that only one chip has (all without regard to case).
std::optional<int> findChip(const std::string& text) {
  std::uint64_t row = 0;
  if (parseNumber(text, 1000, row)) {
    if (row < static_cast<std::uint64_t>(kChipModelCount)) return static_cast<int>(row);
    return std::nullopt;
  }
  std::string want = lower(text);
  for (int i = 0; i < kChipModelCount; ++i) {
    std::string name = lower(kChipModels[i].name);
    std::string::size_type space = name.find(' ');
    std::string part = space == std::string::npos ? name : name.substr(space + 1);
    if (want == name || want == part) return i;
  }
  std::optional<int> found;
  for (int i = 0; i < kChipModelCount; ++i) {
    if (lower(kChipModels[i].name).find(want) == std::string::npos) continue;
    if (found) return std::nullopt;
    found = i;
  }
  return found;
}

std::string chipList() {
  std::string s;
  char line[128];
  for (int i = 0; i < kChipModelCount; ++i) {
    const ChipModel& chip = kChipModels[i];
    std::snprintf(line, sizeof line, "  %d  %-24s manufacturer 0x%02X, device 0x%02X, %s\n", i,
                  chip.name, chip.manufacturerId, chip.deviceId,
                  chip.bottomBoot ? "bottom boot" : "uniform 64 KB sectors");
    s += line;
  }
  return s;
}

bool readRomFile(const std::string& path, std::vector<std::uint8_t>& rom, std::string& error) {
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    error = path + ": " + std::strerror(errno);
    return false;
  }
  struct stat st{};
  bool ok = ::fstat(fd, &st) == 0;
  if (!ok) {
    error = path + ": " + std::strerror(errno);
  } else if (!S_ISREG(st.st_mode)) {
    ok = false;
    error = path + ": not a regular file";
  } else if (static_cast<std::uint64_t>(st.st_size) > kMaxRomFile) {
    ok = false;
    error = path + ": larger than 8 MB, the most a game cartridge holds";
  }
  if (ok) {
    rom.resize(static_cast<std::size_t>(st.st_size));
    std::size_t got = 0;
    while (got < rom.size()) {
      ssize_t n = ::read(fd, rom.data() + got, rom.size() - got);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        ok = false;
        error = path + ": " + std::strerror(errno);
        break;
      }
      if (n == 0) break;
      got += static_cast<std::size_t>(n);
    }
    rom.resize(got);
  }
  ::close(fd);
  return ok;
}

bool writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes, std::string& error) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) {
    error = path + ": " + std::strerror(errno);
    return false;
  }
  bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  int savedErrno = errno;
  if (std::fclose(file) != 0 && ok) {
    ok = false;
    savedErrno = errno;
  }
  if (!ok) error = path + ": " + std::strerror(savedErrno);
  return ok;
}

// The command line of one command: FILE, then options.
struct Args {
  const std::vector<std::string>& all;
  std::size_t next;

  bool done() const { return next >= all.size(); }
  const std::string& take() { return all[next++]; }
};

std::optional<Failure> takeValue(Args& a, const std::string& option, std::string& value) {
  if (a.done()) return usage(option + " needs a value");
  value = a.take();
  return std::nullopt;
}

std::optional<Failure> takeNumber(Args& a, const std::string& option, std::uint64_t max,
                                  std::uint64_t& value) {
  std::string text;
  if (auto f = takeValue(a, option, text)) return f;
  if (!parseNumber(text, max, value)) {
    return usage(option + ": '" + text + "' is not a number from 0 to " + std::to_string(max));
  }
  return std::nullopt;
}

std::optional<Failure> takeFile(Args& a, const char* what, std::string& path) {
  if (a.done() || a.all[a.next].empty() || a.all[a.next][0] == '-') {
    return usage(std::string("missing ") + what);
  }
  path = a.take();
  return std::nullopt;
}

std::optional<Failure> loadCart(const std::string& path, VirtualCart& cart) {
  std::string error;
  if (!loadCartFile(path, cart, error)) return failed(error);
  return std::nullopt;
}

std::optional<Failure> saveCart(const std::string& path, const VirtualCart& cart) {
  std::string error;
  if (!saveCartFile(path, cart, error)) return failed(error);
  return std::nullopt;
}

// ---- show -----------------------------------------------------------------------

// The settings record as the flash tool reads it: a record whose byte 1 is
// 0x00 or 0xFF is absent; byte 127 always ends the name.
void printSettings(const std::vector<std::uint8_t>& eeprom, std::FILE* out) {
  std::uint8_t flags = eeprom[0];
  if (eeprom[1] == 0x00 || eeprom[1] == 0xFF) {
    std::fprintf(out, "  Settings:     none (byte 1 is %s; flags %s)\n", hex(eeprom[1], 2).c_str(),
                 hex(flags, 2).c_str());
    return;
  }
  std::string name;
  for (std::size_t i = 1; i < kEepromSize - 1 && eeprom[i] != 0; ++i) {
    std::uint8_t c = eeprom[i];
    if (c >= 0x20 && c <= 0x7E && c != '\\') {
      name += static_cast<char>(c);
    } else if (c == '\\') {
      name += "\\\\";
    } else {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\x%02X", c);
      name += esc;
    }
  }
  int sramKb = 0;
  switch (flags & 0xE0) {
    case 0x20: sramKb = 2; break;
    case 0x60: sramKb = 8; break;
    case 0xE0: sramKb = 32; break;
    default: break;
  }
  std::fprintf(out, "  Settings:     flags %s\n", hex(flags, 2).c_str());
  std::fprintf(out, "    Filename:   %s\n", name.c_str());
  std::fprintf(out, "    Mode:       %s\n", (flags & 0x10) ? "HIROM" : "LOROM");
  std::fprintf(out, "    SaveRAM:    %d kB\n", sramKb);
  std::uint8_t code = flags & 0xE0;
  if (code != 0x00 && code != 0x20 && code != 0x60 && code != 0xE0) {
    std::fprintf(out, "    (save RAM code %s is not one the flash tool writes)\n", hex(code, 2).c_str());
  }
}

void printMemory(const char* label, const std::vector<std::uint8_t>& memory, std::FILE* out) {
  if (memory.empty()) {
    std::fprintf(out, "  %-13s none\n", label);
    return;
  }
  std::fprintf(out, "  %-13s %s, CRC-32 %s\n", label, sizeText(memory.size()).c_str(),
               crcText(memory).c_str());
}

void printFaults(const VirtualCart& cart, std::FILE* out) {
  const Faults& f = cart.faults;
  std::vector<std::string> lines;
  if (f.failingBlock >= 0) {
    lines.push_back("programming block " + std::to_string(f.failingBlock) + " (flash " +
                    hex(static_cast<std::uint32_t>(f.failingBlock) * 1024u, 6) +
                    ") fails with status " + statusText(f.failingBlockStatus));
  }
  if (f.erase == EraseFault::Never) lines.push_back("erases never finish");
  if (f.erase == EraseFault::Late) {
    lines.push_back("erases take " + std::to_string(f.eraseLateMs) + " ms longer than usual");
  }
  if (f.noEeprom) lines.push_back("the settings EEPROM does not answer");
  if (f.eepromStaysBusy) lines.push_back("EEPROM write cycles never end");
  if (f.dirtyContact) lines.push_back("dirty contact: repeated reads of a block differ");
  if (f.unplugAfterBytes != 0) {
    lines.push_back("the board is unplugged after " + std::to_string(f.unplugAfterBytes) + " bytes");
  }
  if (lines.empty()) {
    std::fprintf(out, "  Faults:       none\n");
  } else {
    std::fprintf(out, "  Faults:\n");
    for (const std::string& line : lines) std::fprintf(out, "    %s\n", line.c_str());
  }
  std::fprintf(out, "  Faults fired: %u\n", f.fired);
}

void printViolations(const VirtualCart& cart, std::FILE* out) {
  std::fprintf(out, "  Violations:   %zu\n", cart.violations.size());
  for (std::size_t i = 0; i < cart.violations.size(); ++i) {
    std::fprintf(out, "    %zu. %s\n", i + 1, cart.violations[i].c_str());
  }
}

// The last programmed byte tells at a glance how much of the flash is used.
void printFlash(const std::vector<std::uint8_t>& flash, std::FILE* out) {
  auto last = std::find_if(flash.rbegin(), flash.rend(), [](std::uint8_t b) { return b != 0xFF; });
  std::string use = last == flash.rend()
                        ? "blank"
                        : "written up to " + hex(static_cast<std::uint32_t>(flash.rend() - last - 1), 6);
  std::fprintf(out, "  %-13s %s, CRC-32 %s, %s\n", "Flash:", sizeText(flash.size()).c_str(),
               crcText(flash).c_str(), use.c_str());
}

std::optional<Failure> cmdShow(Args& a, const Io& io) {
  std::string path;
  if (auto f = takeFile(a, "FILE", path)) return f;
  if (!a.done()) return usage("show: unexpected '" + a.all[a.next] + "'");
  VirtualCart cart;
  if (auto f = loadCart(path, cart)) return f;

  std::FILE* out = io.out;
  if (cart.kind == CartKind::Flash) {
    const ChipModel& chip = kChipModels[cart.chipRow];
    std::fprintf(out, "%s: flash cartridge\n", path.c_str());
    std::fprintf(out, "  Chip:         %s (row %d, manufacturer 0x%02X, device 0x%02X, %s)\n", chip.name,
                 cart.chipRow, chip.manufacturerId, chip.deviceId,
                 chip.bottomBoot ? "bottom boot" : "uniform 64 KB sectors");
    printFlash(cart.flash, out);
    // What the cartridge applies at power-up; LoROM without a record.
    std::fprintf(out, "  Map mode:     %s, by the settings record\n", mapName(flashCartMapMode(cart)));
    if (cart.hasEeprom) {
      printMemory("EEPROM:", cart.eeprom, out);
      printSettings(cart.eeprom, out);
    } else {
      std::fprintf(out, "  EEPROM:       not fitted\n");
    }
    printMemory("Save RAM:", cart.sram, out);
  } else {
    std::fprintf(out, "%s: game cartridge\n", path.c_str());
    std::fprintf(out, "  Map mode:     %s\n", mapName(cart.mapMode));
    printMemory("ROM:", cart.rom, out);
    printMemory("Save RAM:", cart.sram, out);
    printMemory("Super FX RAM:", cart.superFxRam, out);
  }
  printFaults(cart, out);
  printViolations(cart, out);
  return std::nullopt;
}

// ---- new ------------------------------------------------------------------------

std::optional<Failure> cmdNew(Args& a, const Io& io) {
  std::string path;
  if (auto f = takeFile(a, "FILE", path)) return f;
  bool flash = false;
  std::optional<std::string> romPath, map, chip;
  std::optional<bool> eeprom;
  std::optional<std::uint64_t> sramKb, superFxKb;
  while (!a.done()) {
    std::string option = a.take();
    std::string value;
    std::uint64_t number = 0;
    if (option == "--flash") {
      flash = true;
    } else if (option == "--game") {
      if (auto f = takeValue(a, option, value)) return f;
      romPath = value;
    } else if (option == "--map") {
      if (auto f = takeValue(a, option, value)) return f;
      map = value;
    } else if (option == "--chip") {
      if (auto f = takeValue(a, option, value)) return f;
      chip = value;
    } else if (option == "--eeprom" || option == "--no-eeprom") {
      eeprom = option == "--eeprom";
    } else if (option == "--sram") {
      if (auto f = takeNumber(a, option, kMaxGameRamKb, number)) return f;
      sramKb = number;
    } else if (option == "--superfx-ram") {
      if (auto f = takeNumber(a, option, kMaxGameRamKb, number)) return f;
      superFxKb = number;
    } else {
      return usage("new: unknown option '" + option + "'");
    }
  }
  if (flash == romPath.has_value()) return usage("new: give either --flash or --game ROMFILE");

  VirtualCart cart;
  if (flash) {
    if (map || superFxKb) return usage("new --flash: --map and --superfx-ram are for game cartridges");
    cart.kind = CartKind::Flash;
    cart.chipRow = 0;
    if (chip) {
      std::optional<int> row = findChip(*chip);
      if (!row) {
        std::string list = chipList();
        list.pop_back();
        return usage("new: no single flash chip matches '" + *chip + "'; the chips:\n" + list);
      }
      cart.chipRow = *row;
    }
    std::uint64_t kb = sramKb.value_or(32);
    if (kb != 0 && kb != 2 && kb != 8 && kb != 32) {
      return usage("new --flash: the save RAM is 0, 2, 8 or 32 KB");
    }
    cart.flash.assign(kFlashSize, 0xFF);
    cart.hasEeprom = eeprom.value_or(true);
    // A blank 93C46 reads all ones.
    if (cart.hasEeprom) cart.eeprom.assign(kEepromSize, 0xFF);
    cart.sram = powerUpRam(static_cast<std::size_t>(kb) * 1024);
  } else {
    if (chip || eeprom) return usage("new --game: --chip and --eeprom are for flash cartridges");
    if (!map) return usage("new --game: --map lorom|hirom|exhirom is needed");
    std::string m = lower(*map);
    if (m == "lorom") {
      cart.mapMode = MapMode::LoRom;
    } else if (m == "hirom") {
      cart.mapMode = MapMode::HiRom;
    } else if (m == "exhirom") {
      cart.mapMode = MapMode::ExHiRom;
    } else {
      return usage("new --game: unknown map mode '" + *map + "' (lorom, hirom or exhirom)");
    }
    cart.kind = CartKind::Game;
    cart.hasEeprom = false;
    std::string error;
    if (!readRomFile(*romPath, cart.rom, error)) return failed(error);
    if ((cart.rom.size() & 0x3FF) == 0x200) {
      cart.rom.erase(cart.rom.begin(), cart.rom.begin() + 512);
      std::fprintf(io.out, "%s: dropped a 512-byte copier header\n", romPath->c_str());
    }
    std::size_t reach = cart.mapMode == MapMode::ExHiRom ? (8u << 20) : (4u << 20);
    if (cart.rom.empty()) return failed(*romPath + ": empty");
    if (cart.rom.size() > reach) {
      return failed(*romPath + ": " + sizeText(cart.rom.size()) + " is more than a " +
                    mapName(cart.mapMode) + " cartridge reaches (" + sizeText(reach) + ")");
    }
    cart.sram = powerUpRam(static_cast<std::size_t>(sramKb.value_or(0)) * 1024);
    cart.superFxRam = powerUpRam(static_cast<std::size_t>(superFxKb.value_or(0)) * 1024);
  }
  if (auto f = saveCart(path, cart)) return f;

  if (cart.kind == CartKind::Flash) {
    std::fprintf(io.out, "%s: new flash cartridge, %s, EEPROM %s, save RAM %zu KB\n", path.c_str(),
                 kChipModels[cart.chipRow].name, cart.hasEeprom ? "fitted" : "not fitted",
                 cart.sram.size() / 1024);
  } else {
    std::fprintf(io.out, "%s: new %s game cartridge, ROM %s, save RAM %zu KB, Super FX RAM %zu KB\n",
                 path.c_str(), mapName(cart.mapMode), sizeText(cart.rom.size()).c_str(),
                 cart.sram.size() / 1024, cart.superFxRam.size() / 1024);
  }
  return std::nullopt;
}

// ---- export ---------------------------------------------------------------------

std::optional<Failure> cmdExport(Args& a, const Io& io) {
  std::string path;
  if (auto f = takeFile(a, "FILE", path)) return f;
  std::optional<std::string> rom, sram, eeprom, superFx;
  while (!a.done()) {
    std::string option = a.take();
    std::optional<std::string>* target = option == "--rom"           ? &rom
                                         : option == "--sram"        ? &sram
                                         : option == "--eeprom"      ? &eeprom
                                         : option == "--superfx-ram" ? &superFx
                                                                     : nullptr;
    if (target == nullptr) return usage("export: unknown option '" + option + "'");
    std::string value;
    if (auto f = takeValue(a, option, value)) return f;
    *target = value;
  }
  if (!rom && !sram && !eeprom && !superFx) {
    return usage("export: name at least one of --rom, --sram, --eeprom, --superfx-ram");
  }
  VirtualCart cart;
  if (auto f = loadCart(path, cart)) return f;

  struct Item {
    const std::optional<std::string>& out;
    const std::vector<std::uint8_t>& memory;
    const char* what;
  };
  bool flash = cart.kind == CartKind::Flash;
  const Item items[] = {
      {rom, flash ? cart.flash : cart.rom, flash ? "flash" : "ROM"},
      {sram, cart.sram, "save RAM"},
      {eeprom, cart.eeprom, "EEPROM"},
      {superFx, cart.superFxRam, "Super FX RAM"},
  };
  // Everything asked for must be there before any file is written.
  for (const Item& item : items) {
    if (item.out && item.memory.empty()) return failed(path + ": the cartridge has no " + item.what);
  }
  for (const Item& item : items) {
    if (!item.out) continue;
    std::string error;
    if (!writeFile(*item.out, item.memory, error)) return failed(error);
    std::fprintf(io.out, "%s: %zu bytes of %s\n", item.out->c_str(), item.memory.size(), item.what);
  }
  return std::nullopt;
}

// ---- fault ----------------------------------------------------------------------

std::optional<Failure> parseFailBlock(const std::string& text, Faults& faults) {
  std::string::size_type colon = text.find(':');
  std::string blockText = text.substr(0, colon);
  std::uint64_t block = 0;
  if (!parseNumber(blockText, kFlashBlockCount - 1, block)) {
    return usage("--fail-block: the block is a number from 0 to " + std::to_string(kFlashBlockCount - 1));
  }
  std::uint8_t status = 'X';
  if (colon != std::string::npos) {
    std::string statusText = text.substr(colon + 1);
    std::uint64_t number = 0;
    if (parseNumber(statusText, 0xFF, number)) {
      status = static_cast<std::uint8_t>(number);
    } else if (statusText.size() == 1) {
      status = static_cast<std::uint8_t>(statusText[0]);
    } else {
      return usage("--fail-block: STATUS is a number from 0 to 255 or one character");
    }
  }
  if (status == '.') return usage("--fail-block: status '.' (0x2E) reports success");
  faults.failingBlock = static_cast<std::int32_t>(block);
  faults.failingBlockStatus = status;
  return std::nullopt;
}

std::optional<Failure> cmdFault(Args& a, const Io& io) {
  std::string path;
  if (auto f = takeFile(a, "FILE", path)) return f;
  if (a.done()) return usage("fault: name at least one fault option (see cartsim --help)");

  // Options are checked in full before the file is touched; --clear goes
  // first wherever it stands.
  bool clear = false, clearViolations = false, flashOnly = false;
  Faults set;
  std::optional<std::int32_t> failBlock;
  std::uint8_t failStatus = 'X';
  std::optional<EraseFault> erase;
  std::uint32_t lateMs = 0;
  bool noEeprom = false, busy = false, dirty = false;
  std::optional<std::uint64_t> unplug;
  while (!a.done()) {
    std::string option = a.take();
    std::string value;
    if (option == "--fail-block") {
      if (auto f = takeValue(a, option, value)) return f;
      if (auto f = parseFailBlock(value, set)) return f;
      failBlock = set.failingBlock;
      failStatus = set.failingBlockStatus;
      flashOnly = true;
    } else if (option == "--erase") {
      if (auto f = takeValue(a, option, value)) return f;
      std::uint64_t ms = 0;
      if (value == "never") {
        erase = EraseFault::Never;
      } else if (value.rfind("late:", 0) == 0 && parseNumber(value.substr(5), UINT32_MAX, ms)) {
        erase = EraseFault::Late;
        lateMs = static_cast<std::uint32_t>(ms);
      } else {
        return usage("--erase: never or late:MS");
      }
      flashOnly = true;
    } else if (option == "--no-eeprom") {
      noEeprom = flashOnly = true;
    } else if (option == "--eeprom-busy") {
      busy = flashOnly = true;
    } else if (option == "--dirty") {
      dirty = true;
    } else if (option == "--unplug-after") {
      std::uint64_t n = 0;
      if (auto f = takeNumber(a, option, UINT64_MAX, n)) return f;
      unplug = n;
    } else if (option == "--clear") {
      clear = true;
    } else if (option == "--clear-violations") {
      clearViolations = true;
    } else {
      return usage("fault: unknown option '" + option + "'");
    }
  }

  VirtualCart cart;
  if (auto f = loadCart(path, cart)) return f;
  if (flashOnly && cart.kind != CartKind::Flash) {
    return failed(path + ": a game cartridge has no flash chip and no settings EEPROM; only --dirty, "
                  "--unplug-after and the clears apply");
  }
  Faults& f = cart.faults;
  if (clear) f = Faults{};
  if (failBlock) {
    f.failingBlock = *failBlock;
    f.failingBlockStatus = failStatus;
  }
  if (erase) {
    f.erase = *erase;
    f.eraseLateMs = *erase == EraseFault::Late ? lateMs : 0;
  }
  if (noEeprom) f.noEeprom = true;
  if (busy) f.eepromStaysBusy = true;
  if (dirty) f.dirtyContact = true;
  if (unplug) f.unplugAfterBytes = *unplug;
  if (clearViolations) cart.violations.clear();
  if (auto failure = saveCart(path, cart)) return failure;

  std::fprintf(io.out, "%s:\n", path.c_str());
  printFaults(cart, io.out);
  printViolations(cart, io.out);
  return std::nullopt;
}

// ---- demo-rom -------------------------------------------------------------------

std::optional<Failure> cmdDemoRom(Args& a, const Io& io) {
  std::string path;
  if (auto f = takeFile(a, "OUT", path)) return f;
  DemoRomOptions options;
  while (!a.done()) {
    std::string option = a.take();
    std::uint64_t number = 0;
    if (option == "--hirom") {
      options.hiRom = true;
    } else if (option == "--size") {
      if (auto f = takeNumber(a, option, 1u << 20, number)) return f;
      options.sizeKb = static_cast<std::uint32_t>(number);
    } else if (option == "--sram") {
      if (auto f = takeNumber(a, option, 1u << 20, number)) return f;
      options.sramKb = static_cast<std::uint32_t>(number);
    } else if (option == "--title") {
      if (auto f = takeValue(a, option, options.title)) return f;
    } else {
      return usage("demo-rom: unknown option '" + option + "'");
    }
  }
  std::vector<std::uint8_t> image;
  std::string error;
  if (!makeDemoRom(options, image, error)) return usage("demo-rom: " + error);
  if (!writeFile(path, image, error)) return failed(error);
  std::fprintf(io.out, "%s: %u KB %s demo ROM \"%s\", save RAM %u KB, checksum %s\n", path.c_str(),
               options.sizeKb, options.hiRom ? "HiROM" : "LoROM", options.title.c_str(), options.sramKb,
               hex(romChecksum(image), 4).c_str());
  return std::nullopt;
}

}  // namespace

int runCartsim(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
  Io io{out, err};
  if (args.size() < 2) {
    std::fprintf(err, "cartsim: missing command; run cartsim --help\n");
    return kCartsimUsage;
  }
  const std::string& command = args[1];
  if (command == "--help" || command == "-h" || command == "help") {
    std::fputs(kCartsimHelp, out);
    return kCartsimOk;
  }
  Args a{args, 2};
  std::optional<Failure> failure;
  if (command == "new") {
    failure = cmdNew(a, io);
  } else if (command == "show") {
    failure = cmdShow(a, io);
  } else if (command == "export") {
    failure = cmdExport(a, io);
  } else if (command == "fault") {
    failure = cmdFault(a, io);
  } else if (command == "demo-rom") {
    failure = cmdDemoRom(a, io);
  } else if (command == "chips") {
    if (!a.done()) {
      failure = usage("chips: unexpected '" + args[2] + "'");
    } else {
      std::fputs(chipList().c_str(), out);
    }
  } else {
    failure = usage("unknown command '" + command + "'");
  }
  if (!failure) return kCartsimOk;
  std::fprintf(err, "cartsim: %s\n", failure->message.c_str());
  if (failure->status == kCartsimUsage) std::fprintf(err, "run cartsim --help for the usage\n");
  return failure->status;
}

}  // namespace vprog
