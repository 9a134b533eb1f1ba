// A 93C46 three-wire serial EEPROM, 128 x 8, driven pin by pin: chip select,
// clock and data in; data out.
//
// Instructions start with a 1 bit clocked in while chip select is high,
// then a two-bit opcode and a seven-bit address, most significant bit first;
// inputs are taken on the rising clock edge. READ puts a dummy 0 on data out
// after its last address bit, then shifts out the byte on the following
// rising edges and goes on with the next addresses while chip select stays
// high. ERASE, WRITE, ERAL and WRAL need EWEN first (the chip powers up
// disabled) and start their self-timed cycle when chip select falls after
// the instruction; with chip select high again data out shows busy (0)
// until the cycle has ended, then ready (1), until the next start bit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vprog {

inline constexpr std::uint32_t kEepromSize = 128;

// The level of data out whenever the chip does not drive it (deselected,
// receiving an instruction, or not fitted at all): the board pulls the line
// low, so a missing chip reads as 0x00 bytes and never reports ready.
inline constexpr bool kEepromDataOutUndriven = false;

// What the chip does with its clock edges.
enum class EepromPhase : std::uint8_t {
  Deselected,   // chip select low
  WaitStart,    // selected, waiting for the start bit
  Instruction,  // shifting in opcode and address
  Data,         // shifting in the data byte of WRITE or WRAL
  ReadOut,      // shifting out data
  Complete,     // instruction taken; waits for chip select to fall
  Ignore,       // an instruction the chip does not take; waits for chip select to fall
};

// A self-timed cycle waiting for chip select to fall.
enum class EepromCycle : std::uint8_t { None, Erase, Write, EraseAll, WriteAll };

// `cells` points at the cartridge's EEPROM bytes (VirtualCart::eeprom).
struct Eeprom93C46 {
  std::vector<std::uint8_t>* cells = nullptr;

  bool cs = false;  // pin levels as last set
  bool sk = false;
  bool di = false;
  EepromPhase phase = EepromPhase::Deselected;
  std::uint16_t shift = 0;  // bits clocked in after the start bit
  int bits = 0;             // how many
  EepromCycle dataFor = EepromCycle::None;  // WRITE or WRAL, while its data byte comes in
  std::uint8_t dataAddress = 0;
  bool writeEnabled = false;
  EepromCycle armed = EepromCycle::None;
  std::uint8_t armedAddress = 0;
  std::uint8_t armedData = 0;
  std::uint64_t busyUntilUs = 0;  // end of the last self-timed cycle
  bool showStatus = false;        // data out shows ready/busy while selected
  std::uint8_t readAddress = 0;
  int readBit = 0;                // bits of readAddress's byte shifted out so far
  bool dataOut = false;           // the level driven during a read

  // Faults, set by the board after attaching the chip.
  bool absent = false;     // not fitted: nothing answers, data out stays undriven
  bool staysBusy = false;  // a self-timed cycle never ends and writes nothing
  std::uint32_t faultsFired = 0;  // instructions sent to an absent or stuck chip, cycles that never end

  // Instructions the chip refused or that were cut short, oldest first. Only
  // the first kEepromViolationsKept are kept; violationCount counts all.
  std::vector<std::string> violations;
  std::uint32_t violationCount = 0;
};

inline constexpr std::size_t kEepromViolationsKept = 64;
// A self-timed cycle end time that never comes.
inline constexpr std::uint64_t kEepromNever = UINT64_MAX;

// Binds the chip to its cells and powers it up: everything, faults and
// violations included, starts afresh. Cells of another size than 128 bytes
// (none at all on a cartridge without the chip) make it behave as absent.
void attachEeprom(Eeprom93C46& eeprom, std::vector<std::uint8_t>& cells);
// Power-up after the slot was switched off: erase/write disabled, no
// instruction in progress; a self-timed cycle cut short is not redone.
// Cells, faults and violations stay.
void resetEeprom(Eeprom93C46& eeprom);
// New pin levels; a rising clock edge shifts in the data line.
void eepromSetPins(Eeprom93C46& eeprom, bool cs, bool sk, bool di, std::uint64_t nowUs);
// The level of the data output line now.
bool eepromDataOut(const Eeprom93C46& eeprom, std::uint64_t nowUs);

}  // namespace vprog
