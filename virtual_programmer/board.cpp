#include "virtual_programmer/board.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "virtual_programmer/timing.h"

namespace vprog {
namespace {

namespace cmd = board_command;

// D2XX status values the board answers with besides success.
constexpr platform::FtStatus kFtInvalidHandle = 1;
constexpr platform::FtStatus kFtDeviceNotOpened = 3;

constexpr std::uint32_t kBusMask = 0xFFFFFF;
constexpr std::size_t kBlockCounters = 0x1000000 / kBoardBlockSize;
// The reply queue is compacted once this much of it has been read.
constexpr std::size_t kReplyCompactAt = 0x10000;

// Settings record: byte 0 bit 4 selects HiROM. An erased byte (0xFF) is no
// record at all, and the cartridge stays LoROM.
constexpr std::uint8_t kRecordHiRomBit = 0x10;
constexpr std::uint8_t kErasedByte = 0xFF;

// The settings EEPROM's lines in the address of a line write.
constexpr std::uint32_t kLineDi = 0x4000;
constexpr std::uint32_t kLineCs = 0x2000;
constexpr std::uint32_t kLineSk = 0x1000;

// The dirty contact flips this bit of one byte per block read again.
constexpr std::uint8_t kDirtyBit = 0x10;

std::size_t commandLength(std::uint8_t command) {
  switch (command) {
    case cmd::kControl:
    case cmd::kPower:
      return 2;
    case cmd::kReadBlock:
    case cmd::kReadByte:
      return 4;
    case cmd::kWriteByte:
      return 5;
    case cmd::kWriteBlock:
    case cmd::kFlashBlock:
      return 4 + kBoardBlockSize;
    case cmd::kSetProgramSequence:
      return 13;
    case cmd::kStatus:
      return 1;
    default:
      return 0;
  }
}

std::uint32_t addressAt(const std::uint8_t* bytes) {
  return bytes[0] | (std::uint32_t{bytes[1]} << 8) | (std::uint32_t{bytes[2]} << 16);
}

std::string busText(std::uint32_t address) {
  char text[16];
  std::snprintf(text, sizeof text, "%02X:%04X", (address >> 16) & 0xFF, address & 0xFFFF);
  return text;
}

__attribute__((format(printf, 2, 3))) void violation(Board& board, const char* format, ...) {
  char text[256];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  recordViolation(board, std::string("board: ") + text);
}

bool flashCart(const Board& board) { return board.cart->kind == CartKind::Flash; }
bool romSelect(const Board& board) { return (board.control & 0x01) != 0; }

bool eepromFitted(const VirtualCart& cart) {
  return cart.hasEeprom && !cart.faults.noEeprom && cart.eeprom.size() == kEepromSize;
}

// A flash cartridge of this kind applies its stored settings at power-up
// and when the board signals the end of the settings work (control 0x02).
void applySettings(Board& board) {
  VirtualCart& cart = *board.cart;
  if (cart.kind == CartKind::Flash) board.flashMode = flashCartMapMode(cart);
  board.view = viewOf(cart, board.flashMode);
}

void powerUp(Board& board) {
  board.slotPowered = true;
  if (flashCart(board)) {
    resetFlashChip(board.chip);
    resetEeprom(board.eeprom);
  }
  applySettings(board);
}

void powerDown(Board& board) {
  board.slotPowered = false;
  if (flashCart(board)) {
    // What finished before the supply went stays done; the rest is cut off.
    flashSettle(board.chip, board.nowUs);
    resetFlashChip(board.chip);
    resetEeprom(board.eeprom);
  }
}

// The addresses at which the host drives the settings EEPROM's lines: the
// line states it uses, in bank 00, low byte 00.
bool isEepromLineAddress(std::uint32_t address) {
  if ((address >> 16) != 0x00 || (address & 0xFF) != 0x00) return false;
  switch ((address >> 8) & 0xFF) {
    case 0x80:
    case 0x88:
    case 0xA0:
    case 0xB0:
    case 0xE0:
    case 0xF0:
      return true;
    default:
      return false;
  }
}

// Whether the access fits the control byte: ROM select belongs to the ROM
// area, and without it only the settings EEPROM's line writes may touch
// that area. Every area boundary is a multiple of 0x2000, so a block at a
// multiple of 0x400 lies in one area; an unaligned one is checked at both
// ends. Reports one violation per command at most.
void checkAccess(Board& board, const char* what, std::uint32_t address, std::size_t count,
                 bool write) {
  const std::uint32_t last = (address + static_cast<std::uint32_t>(count) - 1) & kBusMask;
  for (std::uint32_t at : {address, last}) {
    const bool romArea = inRomArea(at);
    if (romSelect(board) && !romArea) {
      violation(board, "%s at %s: ROM select (control 0x%02X) outside the ROM area", what,
                busText(address).c_str(), board.control);
      return;
    }
    if (!romSelect(board) && romArea && !(write && count == 1 && isEepromLineAddress(at))) {
      violation(board, "%s at %s: ROM area %s without ROM select (control 0x%02X)", what,
                busText(address).c_str(), write ? "write" : "read", board.control);
      return;
    }
  }
}

bool slotCheck(Board& board, const char* what, std::uint32_t address) {
  if (board.slotPowered) return true;
  violation(board, "%s at %s with the slot off", what, busText(address).c_str());
  return false;
}

void busRead(Board& board, const char* what, std::uint32_t address, std::uint8_t* out,
             std::size_t count) {
  if (!slotCheck(board, what, address)) {
    std::memset(out, kOpenBus, count);
    return;
  }
  checkAccess(board, what, address, count, false);
  VirtualCart& cart = *board.cart;
  std::size_t done = 0;
  while (done < count) {
    const BusMapping at = mapBus(board.view, address, romSelect(board), false);
    const std::size_t run = std::min<std::size_t>(at.run, count - done);
    std::uint8_t* to = out + done;
    switch (at.target) {
      case BusTarget::Flash:
        for (std::size_t i = 0; i < run; ++i) {
          to[i] = flashRead(board.chip, at.offset + static_cast<std::uint32_t>(i), board.nowUs);
        }
        break;
      case BusTarget::Rom:
        std::memcpy(to, cart.rom.data() + at.offset, run);
        break;
      case BusTarget::SaveRam:
        std::memcpy(to, cart.sram.data() + at.offset, run);
        break;
      case BusTarget::SuperFxRam:
        std::memcpy(to, cart.superFxRam.data() + at.offset, run);
        break;
      case BusTarget::None:
      case BusTarget::EepromLines:
        std::memset(to, kOpenBus, run);
        break;
    }
    done += run;
    address = (address + static_cast<std::uint32_t>(run)) & kBusMask;
  }
}

void setEepromLines(Board& board, std::uint32_t inBank) {
  eepromSetPins(board.eeprom, (inBank & kLineCs) != 0, (inBank & kLineSk) != 0,
                (inBank & kLineDi) != 0, board.nowUs);
}

// Writes with the given ROM select; no checks.
void busWriteAs(Board& board, bool select, std::uint32_t address, const std::uint8_t* data,
                std::size_t count) {
  VirtualCart& cart = *board.cart;
  std::size_t done = 0;
  while (done < count) {
    const BusMapping at = mapBus(board.view, address, select, true);
    const std::size_t run = std::min<std::size_t>(at.run, count - done);
    const std::uint8_t* from = data + done;
    switch (at.target) {
      case BusTarget::Flash:
        for (std::size_t i = 0; i < run; ++i) {
          flashWriteCycle(board.chip, at.offset + static_cast<std::uint32_t>(i), from[i],
                          board.nowUs);
        }
        break;
      case BusTarget::SaveRam:
        std::memcpy(cart.sram.data() + at.offset, from, run);
        break;
      case BusTarget::SuperFxRam:
        std::memcpy(cart.superFxRam.data() + at.offset, from, run);
        break;
      case BusTarget::EepromLines:
        for (std::size_t i = 0; i < run; ++i) setEepromLines(board, at.offset);
        break;
      case BusTarget::Rom:
      case BusTarget::None:
        break;
    }
    done += run;
    address = (address + static_cast<std::uint32_t>(run)) & kBusMask;
  }
}

void busWrite(Board& board, const char* what, std::uint32_t address, const std::uint8_t* data,
              std::size_t count) {
  if (!slotCheck(board, what, address)) return;
  checkAccess(board, what, address, count, true);
  busWriteAs(board, romSelect(board), address, data, count);
}

void dirtyContact(Board& board, std::uint32_t address, std::uint8_t* block) {
  Faults& faults = board.cart->faults;
  if (!faults.dirtyContact) return;
  const std::size_t index = (address & kBusMask) / kBoardBlockSize;
  std::uint8_t& reads = board.blockReads[index];
  if (reads < 255) ++reads;
  if (reads < 2) return;
  block[(index * 7 + 3) % kBoardBlockSize] ^= kDirtyBit;
  ++faults.fired;
}

// The firmware's flash block loop: the stored cycles, then the data byte,
// for every byte; the select line is the board's own for this command.
std::uint8_t flashBlock(Board& board, std::uint32_t address, const std::uint8_t* data) {
  const char* what = "flash block";
  if (!slotCheck(board, what, address)) return kFlashBlockSlotOff;
  if (!board.hasProgramSequence) {
    violation(board, "flash block at %s before any program sequence", busText(address).c_str());
    return kFlashBlockNoSequence;
  }
  BusMapping at = mapBus(board.view, address, true, true);
  if (!flashCart(board) || at.target != BusTarget::Flash) {
    violation(board, "flash block at %s, where no flash answers", busText(address).c_str());
    return kFlashBlockNoFlash;
  }
  Faults& faults = board.cart->faults;
  if (faults.failingBlock >= 0 &&
      at.offset / kBoardBlockSize == static_cast<std::uint32_t>(faults.failingBlock)) {
    ++faults.fired;
    return faults.failingBlockStatus;
  }

  // Cycles that reach the flash go to the chip before every byte; a cycle
  // that lands elsewhere on the cartridge is written there and is missing
  // from the chip's sequence.
  FlashCycle cycles[3];
  int cycleCount = 0;
  for (const ProgramCycle& cycle : board.programSequence) {
    const BusMapping to = mapBus(board.view, cycle.address, true, true);
    if (to.target == BusTarget::Flash) {
      cycles[cycleCount++] = {to.offset, cycle.data};
    } else {
      busWriteAs(board, true, cycle.address, &cycle.data, 1);
    }
  }

  std::size_t done = 0;
  while (done < kBoardBlockSize) {
    if (done != 0) at = mapBus(board.view, address, true, true);
    if (at.target != BusTarget::Flash) return kFlashBlockNoFlash;
    const auto run = static_cast<std::uint32_t>(std::min<std::size_t>(at.run, kBoardBlockSize - done));
    const std::uint32_t programmed =
        flashProgramBytes(board.chip, cycles, cycleCount, at.offset, data + done, run, board.nowUs);
    if (programmed != run) return kFlashBlockNotTaken;
    done += run;
    address = (address + run) & kBusMask;
  }
  return kFlashBlockDone;
}

std::uint8_t statusByte(Board& board) {
  bool dataOut = kEepromDataOutUndriven;
  if (board.slotPowered && flashCart(board)) dataOut = eepromDataOut(board.eeprom, board.nowUs);
  return dataOut ? 0x01 : 0x00;
}

std::uint8_t* appendReply(Board& board, std::size_t count) {
  const std::size_t at = board.replies.size();
  board.replies.resize(at + count);
  return board.replies.data() + at;
}

void execute(Board& board, const std::uint8_t* c) {
  switch (c[0]) {
    case cmd::kControl:
      if (c[1] > 0x02) violation(board, "control value 0x%02X has no meaning", c[1]);
      board.control = c[1];
      if (c[1] == 0x02 && board.slotPowered) applySettings(board);
      break;
    case cmd::kPower: {
      if (c[1] > 0x01) violation(board, "power value 0x%02X has no meaning", c[1]);
      const bool on = (c[1] & 0x01) != 0;
      if (on && !board.slotPowered) powerUp(board);
      if (!on && board.slotPowered) powerDown(board);
      break;
    }
    case cmd::kReadBlock: {
      const std::uint32_t address = addressAt(c + 1);
      std::uint8_t* out = appendReply(board, kBoardBlockSize);
      busRead(board, "block read", address, out, kBoardBlockSize);
      if (board.slotPowered) dirtyContact(board, address, out);
      break;
    }
    case cmd::kReadByte:
      busRead(board, "byte read", addressAt(c + 1), appendReply(board, 1), 1);
      break;
    case cmd::kWriteByte:
      busWrite(board, "byte write", addressAt(c + 1), c + 4, 1);
      break;
    case cmd::kWriteBlock:
      busWrite(board, "block write", addressAt(c + 1), c + 4, kBoardBlockSize);
      break;
    case cmd::kFlashBlock: {
      const std::uint8_t status = flashBlock(board, addressAt(c + 1), c + 4);
      *appendReply(board, 1) = status;
      break;
    }
    case cmd::kSetProgramSequence:
      for (std::size_t i = 0; i < board.programSequence.size(); ++i) {
        board.programSequence[i] = {addressAt(c + 1 + 4 * i), c[4 + 4 * i]};
      }
      board.hasProgramSequence = true;
      break;
    case cmd::kStatus:
      *appendReply(board, 1) = statusByte(board);
      break;
    default:
      break;
  }
}

void takeChipReports(Board& board) {
  if (!flashCart(board)) return;
  VirtualCart& cart = *board.cart;
  auto take = [&](const std::vector<std::string>& list, std::uint32_t count, std::uint32_t& taken) {
    for (; taken < count; ++taken) {
      if (taken < list.size()) {
        recordViolation(board, list[taken]);
      } else {
        recordViolation(board, "(a chip violation beyond the chip's own list)");
      }
    }
  };
  take(board.chip.violations, board.chip.violationCount, board.chipViolationsTaken);
  take(board.eeprom.violations, board.eeprom.violationCount, board.eepromViolationsTaken);
  cart.faults.fired += board.chip.faultsFired - board.chipFaultsTaken;
  board.chipFaultsTaken = board.chip.faultsFired;
  cart.faults.fired += board.eeprom.faultsFired - board.eepromFaultsTaken;
  board.eepromFaultsTaken = board.eeprom.faultsFired;
}

// ---- the driver table -----------------------------------------------------

Board& boardOf(void* state) { return *static_cast<Board*>(state); }

bool validHandle(const Board& board, platform::FtHandle handle) {
  return board.open && handle == static_cast<const void*>(&board);
}

// The unplug fault: how many of count bytes still cross before the device
// is gone, and whether it goes during this transfer.
std::size_t bytesBeforeUnplug(const Board& board, std::size_t count, bool& cut) {
  const std::uint64_t limit = board.cart->faults.unplugAfterBytes;
  cut = false;
  if (limit == 0) return count;
  const std::uint64_t left = limit > board.bytesMoved ? limit - board.bytesMoved : 0;
  if (count > left) {
    cut = true;
    return static_cast<std::size_t>(left);
  }
  return count;
}

void noteMoved(Board& board, std::size_t bytes) {
  board.bytesMoved += bytes;
  const std::uint64_t limit = board.cart->faults.unplugAfterBytes;
  if (limit != 0 && board.bytesMoved >= limit && !board.unplugged) {
    board.unplugged = true;
    ++board.cart->faults.fired;
  }
}

platform::FtStatus driverOpen(void* state, void* arg, platform::Dword flags,
                              platform::FtHandle* handle) {
  Board& board = boardOf(state);
  if (handle != nullptr) *handle = nullptr;
  if (board.unplugged || flags != platform::kOpenByDescription || arg == nullptr ||
      std::strcmp(static_cast<const char*>(arg), kBoardDescription) != 0) {
    return platform::kFtDeviceNotFound;
  }
  if (board.open) return kFtDeviceNotOpened;
  board.open = true;
  std::fill(board.blockReads.begin(), board.blockReads.end(), std::uint8_t{0});
  if (handle != nullptr) *handle = &board;
  return platform::kFtOk;
}

platform::FtStatus driverWrite(void* state, platform::FtHandle handle, void* buffer,
                               platform::Dword count, platform::Dword* written) {
  Board& board = boardOf(state);
  if (written != nullptr) *written = 0;
  if (!validHandle(board, handle)) return kFtInvalidHandle;
  if (board.unplugged) return platform::kFtIoError;
  bool cut = false;
  const std::size_t accepted = bytesBeforeUnplug(board, count, cut);
  board.nowUs += usbWriteUs(accepted);
  boardAccept(board, static_cast<const std::uint8_t*>(buffer), accepted);
  takeChipReports(board);
  noteMoved(board, accepted);
  if (written != nullptr) *written = static_cast<platform::Dword>(accepted);
  return cut ? platform::kFtIoError : platform::kFtOk;
}

platform::FtStatus driverRead(void* state, platform::FtHandle handle, void* buffer,
                              platform::Dword count, platform::Dword* received) {
  Board& board = boardOf(state);
  if (received != nullptr) *received = 0;
  if (!validHandle(board, handle)) return kFtInvalidHandle;
  if (board.unplugged) return platform::kFtIoError;
  const std::size_t pending = boardPendingReplies(board);
  if (count > pending) {
    violation(board, "read of %u bytes with %zu reply bytes to come: the driver would wait for ever",
              static_cast<unsigned>(count), pending);
  }
  bool cut = false;
  const std::size_t given =
      bytesBeforeUnplug(board, std::min<std::size_t>(count, pending), cut);
  boardTakeReplies(board, static_cast<std::uint8_t*>(buffer), given);
  // A reply that never completes leaves the last packet to the latency timer.
  board.nowUs += count > pending ? usbWriteUs(given) + timing::kUsbLatencyTimerUs : usbReadUs(given);
  noteMoved(board, given);
  if (received != nullptr) *received = static_cast<platform::Dword>(given);
  return cut ? platform::kFtIoError : platform::kFtOk;
}

platform::FtStatus driverClose(void* state, platform::FtHandle handle) {
  Board& board = boardOf(state);
  if (!validHandle(board, handle)) return kFtInvalidHandle;
  board.open = false;
  boardSettle(board);
  if (board.onClose != nullptr) board.onClose(board.closeContext, board);
  return board.unplugged ? platform::kFtIoError : platform::kFtOk;
}

std::uint64_t clockTicksMs(void* state) { return boardOf(state).nowUs / 1000; }

void clockPauseMs(void* state, std::uint32_t ms) { boardOf(state).nowUs += std::uint64_t{ms} * 1000; }

}  // namespace

MapMode flashCartMapMode(const VirtualCart& cart) {
  const bool hiRom = eepromFitted(cart) && cart.eeprom[0] != kErasedByte &&
                     (cart.eeprom[0] & kRecordHiRomBit) != 0;
  return hiRom ? MapMode::HiRom : MapMode::LoRom;
}

void attachBoard(Board& board, VirtualCart& cart) {
  board.cart = &cart;
  board.slotPowered = false;
  board.control = 0x00;
  board.flashMode = MapMode::LoRom;
  board.commandHave = 0;
  board.commandNeed = 0;
  board.replies.clear();
  board.replies.reserve(2 * kReplyCompactAt);
  board.replyHead = 0;
  board.hasProgramSequence = false;
  board.blockReads.assign(kBlockCounters, 0);
  board.chipViolationsTaken = board.eepromViolationsTaken = 0;
  board.chipFaultsTaken = board.eepromFaultsTaken = 0;
  if (cart.kind == CartKind::Flash) {
    attachFlashChip(board.chip, cart.chipRow, cart.flash);
    board.chip.eraseNeverCompletes = cart.faults.erase == EraseFault::Never;
    board.chip.eraseExtraUs =
        cart.faults.erase == EraseFault::Late ? std::uint64_t{cart.faults.eraseLateMs} * 1000 : 0;
    attachEeprom(board.eeprom, cart.hasEeprom ? cart.eeprom : board.unfittedEepromCells);
    board.eeprom.absent = !cart.hasEeprom || cart.faults.noEeprom;
    board.eeprom.staysBusy = cart.faults.eepromStaysBusy;
  }
  board.view = viewOf(cart, board.flashMode);
}

void boardAccept(Board& board, const std::uint8_t* bytes, std::size_t count) {
  std::size_t pos = 0;
  while (pos < count) {
    if (board.commandNeed == 0) {
      const std::uint8_t first = bytes[pos];
      // Zeros where a command byte belongs are passed over: that is how the
      // host brings the board back to a command boundary.
      if (first == 0x00) {
        ++pos;
        continue;
      }
      const std::size_t length = commandLength(first);
      if (length == 0) {
        violation(board, "unknown command byte 0x%02X", first);
        ++pos;
        continue;
      }
      if (count - pos >= length) {
        execute(board, bytes + pos);
        pos += length;
        continue;
      }
      board.commandNeed = length;
      board.commandHave = 0;
    }
    const std::size_t take = std::min(board.commandNeed - board.commandHave, count - pos);
    std::memcpy(board.command.data() + board.commandHave, bytes + pos, take);
    board.commandHave += take;
    pos += take;
    if (board.commandHave == board.commandNeed) {
      board.commandNeed = 0;
      board.commandHave = 0;
      execute(board, board.command.data());
    }
  }
}

std::size_t boardPendingReplies(const Board& board) { return board.replies.size() - board.replyHead; }

std::size_t boardTakeReplies(Board& board, std::uint8_t* out, std::size_t count) {
  const std::size_t given = std::min(count, boardPendingReplies(board));
  if (given != 0) std::memcpy(out, board.replies.data() + board.replyHead, given);
  board.replyHead += given;
  if (board.replyHead == board.replies.size()) {
    board.replies.clear();
    board.replyHead = 0;
  } else if (board.replyHead >= kReplyCompactAt) {
    board.replies.erase(board.replies.begin(),
                        board.replies.begin() + static_cast<std::ptrdiff_t>(board.replyHead));
    board.replyHead = 0;
  }
  return given;
}

void boardSettle(Board& board) {
  if (flashCart(board)) flashSettle(board.chip, board.nowUs);
  takeChipReports(board);
}

void recordViolation(Board& board, const std::string& text) {
  std::vector<std::string>& list = board.cart->violations;
  if (list.size() < kViolationsKept) {
    list.push_back(text);
    return;
  }
  // The entry after the kept ones counts every later violation.
  unsigned long long more = 1;
  if (list.size() > kViolationsKept) {
    std::sscanf(list[kViolationsKept].c_str(), kViolationsMoreFormat, &more);
    ++more;
  }
  char line[64];
  std::snprintf(line, sizeof line, kViolationsMoreFormat, more);
  list.resize(kViolationsKept + 1);
  list[kViolationsKept] = line;
}

std::uint64_t usbWriteUs(std::size_t bytes) {
  return (std::uint64_t{bytes} * 1'000'000 + timing::kUsbBytesPerSecond - 1) /
         timing::kUsbBytesPerSecond;
}

std::uint64_t usbReadUs(std::size_t bytes) {
  if (bytes == 0) return 0;
  std::uint64_t us = usbWriteUs(bytes);
  if (bytes < timing::kUsbPacketDataBytes) us += timing::kUsbLatencyTimerUs;
  return us;
}

platform::Driver boardDriver(Board& board) {
  return platform::Driver{.name = "virtual programmer",
                          .state = &board,
                          .openEx = driverOpen,
                          .write = driverWrite,
                          .read = driverRead,
                          .close = driverClose};
}

platform::Clock boardClock(Board& board) {
  return platform::Clock{.state = &board, .ticksMs = clockTicksMs, .pauseMs = clockPauseMs};
}

}  // namespace vprog
