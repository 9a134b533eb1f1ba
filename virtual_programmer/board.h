// The programmer board: its USB side (the driver table the programs talk
// to, with the link's timing and the unplug fault), its firmware (the
// command parser, the reply queue, the stored program sequence, the flash
// block loop) and its cartridge slot (power, the control byte, the bus).
//
// The firmware keeps its own command table: the host's encoders are what
// the board checks, never what it trusts.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/driver.h"
#include "virtual_programmer/cart_map.h"
#include "virtual_programmer/cart_state.h"
#include "virtual_programmer/eeprom.h"
#include "virtual_programmer/flash_chip.h"

namespace vprog {

// The description in the board's USB descriptor; an open by description
// finds the board only under this text.
inline constexpr const char* kBoardDescription = "USB ROMWRIGHT";

// Command bytes as the firmware decodes them.
namespace board_command {
inline constexpr std::uint8_t kControl = 0x43;
inline constexpr std::uint8_t kPower = 0x50;
inline constexpr std::uint8_t kReadBlock = 0x52;
inline constexpr std::uint8_t kReadByte = 0x72;
inline constexpr std::uint8_t kWriteByte = 0x77;
inline constexpr std::uint8_t kWriteBlock = 0x57;
inline constexpr std::uint8_t kFlashBlock = 0x46;
inline constexpr std::uint8_t kSetProgramSequence = 0x47;
inline constexpr std::uint8_t kStatus = 0x53;
}  // namespace board_command

inline constexpr std::size_t kBoardBlockSize = 1024;
inline constexpr std::size_t kLongestCommand = 4 + kBoardBlockSize;

// Status bytes of a flash block. Anything but kFlashBlockDone is a failure;
// the letters say why.
inline constexpr std::uint8_t kFlashBlockDone = 0x2E;       // '.'
inline constexpr std::uint8_t kFlashBlockNotTaken = 'V';    // a byte did not read back as written
inline constexpr std::uint8_t kFlashBlockNoSequence = 'S';  // no program sequence stored yet
inline constexpr std::uint8_t kFlashBlockNoFlash = 'A';     // no flash answers at the block's address
inline constexpr std::uint8_t kFlashBlockSlotOff = 'P';     // the slot has no power

// The list of violations in the cartridge record keeps the first ones in
// full; after them a single last entry counts the rest, in the form of
// kViolationsMoreFormat, and is rewritten as more come.
inline constexpr std::size_t kViolationsKept = 100;
inline constexpr const char* kViolationsMoreFormat = "... and %llu more violations";

// One stored write cycle of the program sequence, as a bus address.
struct ProgramCycle {
  std::uint32_t address = 0;
  std::uint8_t data = 0;
};

struct Board {
  VirtualCart* cart = nullptr;
  std::uint64_t nowUs = 0;  // the virtual clock

  // USB side.
  bool open = false;
  bool unplugged = false;       // the unplug fault has fired: the device is gone
  std::uint64_t bytesMoved = 0;  // bytes across the link, both directions, since attach
  // Called when the host closes the device (the virtual programmer saves
  // the cartridge file there).
  void (*onClose)(void* context, Board& board) = nullptr;
  void* closeContext = nullptr;

  // Slot.
  bool slotPowered = false;
  std::uint8_t control = 0x00;
  MapMode flashMode = MapMode::LoRom;  // the flash cartridge's mode, from its settings record
  CartView view;

  // Parser: the command being collected across writes.
  std::array<std::uint8_t, kLongestCommand> command{};
  std::size_t commandHave = 0;
  std::size_t commandNeed = 0;  // 0 while a command byte is expected

  // Replies not yet read, from replyHead on.
  std::vector<std::uint8_t> replies;
  std::size_t replyHead = 0;

  bool hasProgramSequence = false;
  std::array<ProgramCycle, 3> programSequence{};

  FlashChip chip;
  Eeprom93C46 eeprom;
  // The cells the EEPROM model works on when the cartridge has none fitted,
  // so that the cartridge record keeps its empty EEPROM.
  std::vector<std::uint8_t> unfittedEepromCells;

  // Block reads per 1 KB of bus address since the device was opened, for
  // the dirty-contact fault (saturates at 255).
  std::vector<std::uint8_t> blockReads;

  // How much of the chips' own reports has been taken into the cartridge.
  std::uint32_t chipViolationsTaken = 0;
  std::uint32_t eepromViolationsTaken = 0;
  std::uint32_t chipFaultsTaken = 0;
  std::uint32_t eepromFaultsTaken = 0;
};

// The map mode a flash cartridge takes from its settings record at power-up
// and on control 0x02: HiROM when the record's flags byte says so; LoROM
// when it says otherwise, is erased, or no EEPROM answers.
MapMode flashCartMapMode(const VirtualCart& cart);

// Binds the board to a cartridge (which must outlive it and stay in place):
// fits the chip models with the cartridge's faults, slot off, control 0x00.
void attachBoard(Board& board, VirtualCart& cart);

// The firmware's side of the link: bytes from the host, processed as they
// come (a command may be cut anywhere between two calls), and the replies
// they queued, in command order.
void boardAccept(Board& board, const std::uint8_t* bytes, std::size_t count);
std::size_t boardPendingReplies(const Board& board);
std::size_t boardTakeReplies(Board& board, std::uint8_t* out, std::size_t count);

// Finishes chip operations whose time has passed and takes the chips'
// violations and fired faults into the cartridge record.
void boardSettle(Board& board);

// Adds a violation to the cartridge record (or only counts it once the
// list is full).
void recordViolation(Board& board, const std::string& text);

// The link's cost in virtual microseconds: host to board, and a reply the
// host reads (a reply shorter than a packet waits for the latency timer).
std::uint64_t usbWriteUs(std::size_t bytes);
std::uint64_t usbReadUs(std::size_t bytes);

// The board as the programs see it: a driver table and the virtual clock,
// both with the board as their state.
platform::Driver boardDriver(Board& board);
platform::Clock boardClock(Board& board);

}  // namespace vprog
