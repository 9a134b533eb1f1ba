#include "virtual_programmer/eeprom.h"

#include <algorithm>
#include <cstdio>

#include "virtual_programmer/timing.h"

namespace vprog {

namespace {

// Opcodes after the start bit; 00 takes its meaning from the two top address bits.
constexpr unsigned kOpRead = 0b10;
constexpr unsigned kOpWrite = 0b01;
constexpr unsigned kOpErase = 0b11;
constexpr unsigned kOpControl = 0b00;
constexpr unsigned kControlEwds = 0b00;
constexpr unsigned kControlWral = 0b01;
constexpr unsigned kControlEral = 0b10;
constexpr unsigned kControlEwen = 0b11;

constexpr int kInstructionBits = 9;  // two opcode bits, seven address bits
constexpr int kDataBits = 8;

void addViolation(Eeprom93C46& eeprom, const char* format, unsigned a = 0) {
  ++eeprom.violationCount;
  if (eeprom.violations.size() >= kEepromViolationsKept) return;
  char text[256];
  std::snprintf(text, sizeof text, format, a);
  eeprom.violations.emplace_back(text);
}

bool fitted(const Eeprom93C46& eeprom) {
  return !eeprom.absent && eeprom.cells != nullptr && eeprom.cells->size() == kEepromSize;
}

const char* cycleName(EepromCycle cycle) {
  switch (cycle) {
    case EepromCycle::Erase:
      return "ERASE";
    case EepromCycle::Write:
      return "WRITE";
    case EepromCycle::EraseAll:
      return "ERAL";
    case EepromCycle::WriteAll:
      return "WRAL";
    case EepromCycle::None:
      break;
  }
  return "";
}

// A complete erase or write instruction: it runs when chip select falls,
// if erase/write is enabled.
void arm(Eeprom93C46& eeprom, EepromCycle cycle, std::uint8_t address, std::uint8_t data) {
  eeprom.phase = EepromPhase::Complete;
  if (!eeprom.writeEnabled) {
    ++eeprom.violationCount;
    if (eeprom.violations.size() < kEepromViolationsKept) {
      char text[256];
      std::snprintf(text, sizeof text, "eeprom: %s of address %u refused: erase/write not enabled (EWEN)",
                    cycleName(cycle), static_cast<unsigned>(address));
      eeprom.violations.emplace_back(text);
    }
    return;
  }
  eeprom.armed = cycle;
  eeprom.armedAddress = address;
  eeprom.armedData = data;
}

void startCycle(Eeprom93C46& eeprom, std::uint64_t nowUs) {
  const EepromCycle cycle = eeprom.armed;
  eeprom.armed = EepromCycle::None;
  eeprom.showStatus = true;
  if (eeprom.staysBusy) {
    eeprom.busyUntilUs = kEepromNever;
    ++eeprom.faultsFired;
    return;
  }
  // The cells change as the cycle starts: the chip takes no READ before the
  // cycle has ended, so only a slot switched off in the middle could tell,
  // and then the byte of a real chip is undefined anyway. WRITE and WRAL
  // erase before they write, so the new byte replaces the old.
  std::vector<std::uint8_t>& cells = *eeprom.cells;
  switch (cycle) {
    case EepromCycle::Erase:
      cells[eeprom.armedAddress] = 0xFF;
      eeprom.busyUntilUs = nowUs + timing::kEepromWriteCycleUs;
      break;
    case EepromCycle::Write:
      cells[eeprom.armedAddress] = eeprom.armedData;
      eeprom.busyUntilUs = nowUs + timing::kEepromWriteCycleUs;
      break;
    case EepromCycle::EraseAll:
      std::fill(cells.begin(), cells.end(), std::uint8_t{0xFF});
      eeprom.busyUntilUs = nowUs + timing::kEepromEraseAllUs;
      break;
    case EepromCycle::WriteAll:
      std::fill(cells.begin(), cells.end(), eeprom.armedData);
      eeprom.busyUntilUs = nowUs + timing::kEepromWriteAllUs;
      break;
    case EepromCycle::None:
      break;
  }
}

void decodeInstruction(Eeprom93C46& eeprom) {
  const unsigned opcode = (eeprom.shift >> 7) & 0b11;
  const auto address = static_cast<std::uint8_t>(eeprom.shift & 0x7F);
  eeprom.shift = 0;
  eeprom.bits = 0;
  switch (opcode) {
    case kOpRead:
      // The dummy 0 goes out right after the last address bit.
      eeprom.readAddress = address;
      eeprom.readBit = 0;
      eeprom.dataOut = false;
      eeprom.phase = EepromPhase::ReadOut;
      return;
    case kOpWrite:
      eeprom.dataFor = EepromCycle::Write;
      eeprom.dataAddress = address;
      eeprom.phase = EepromPhase::Data;
      return;
    case kOpErase:
      arm(eeprom, EepromCycle::Erase, address, 0xFF);
      return;
    case kOpControl:
      switch (address >> 5) {
        case kControlEwen:
          eeprom.writeEnabled = true;
          eeprom.phase = EepromPhase::Complete;
          return;
        case kControlEwds:
          eeprom.writeEnabled = false;
          eeprom.phase = EepromPhase::Complete;
          return;
        case kControlEral:
          arm(eeprom, EepromCycle::EraseAll, 0, 0xFF);
          return;
        case kControlWral:
          eeprom.dataFor = EepromCycle::WriteAll;
          eeprom.dataAddress = 0;
          eeprom.phase = EepromPhase::Data;
          return;
      }
      return;
  }
}

void clockIn(Eeprom93C46& eeprom, bool di, std::uint64_t nowUs) {
  switch (eeprom.phase) {
    case EepromPhase::WaitStart:
      if (!di) return;  // clocks before the start bit are ignored
      if (nowUs < eeprom.busyUntilUs) {
        // A cycle that never ends is the stuck-busy fault: the host cannot
        // wait it out, so an instruction it starts anyway is no misuse.
        if (eeprom.busyUntilUs == kEepromNever) {
          ++eeprom.faultsFired;
        } else {
          addViolation(eeprom, "eeprom: instruction started before the self-timed cycle ended; ignored");
        }
        eeprom.phase = EepromPhase::Ignore;
        return;
      }
      eeprom.showStatus = false;
      eeprom.shift = 0;
      eeprom.bits = 0;
      eeprom.phase = EepromPhase::Instruction;
      return;
    case EepromPhase::Instruction:
      eeprom.shift = static_cast<std::uint16_t>((eeprom.shift << 1) | (di ? 1 : 0));
      if (++eeprom.bits == kInstructionBits) decodeInstruction(eeprom);
      return;
    case EepromPhase::Data:
      eeprom.shift = static_cast<std::uint16_t>((eeprom.shift << 1) | (di ? 1 : 0));
      if (++eeprom.bits == kDataBits) {
        arm(eeprom, eeprom.dataFor, eeprom.dataAddress, static_cast<std::uint8_t>(eeprom.shift));
        eeprom.shift = 0;
        eeprom.bits = 0;
      }
      return;
    case EepromPhase::ReadOut:
      if (eeprom.readBit == 8) {
        eeprom.readAddress = static_cast<std::uint8_t>((eeprom.readAddress + 1) & 0x7F);
        eeprom.readBit = 0;
      }
      eeprom.dataOut = (((*eeprom.cells)[eeprom.readAddress] >> (7 - eeprom.readBit)) & 1) != 0;
      ++eeprom.readBit;
      return;
    case EepromPhase::Complete:
      if (di) {
        addViolation(eeprom, "eeprom: start bit before chip select went low after an instruction; ignored");
        eeprom.phase = EepromPhase::Ignore;
      }
      return;
    case EepromPhase::Deselected:
    case EepromPhase::Ignore:
      return;
  }
}

void deselect(Eeprom93C46& eeprom, std::uint64_t nowUs) {
  if (eeprom.phase == EepromPhase::Instruction || eeprom.phase == EepromPhase::Data) {
    addViolation(eeprom, "eeprom: chip select fell in the middle of an instruction (after %u bits); ignored",
                 static_cast<unsigned>(eeprom.bits) + (eeprom.phase == EepromPhase::Data ? 10u : 1u));
  }
  if (eeprom.armed != EepromCycle::None) startCycle(eeprom, nowUs);
  eeprom.phase = EepromPhase::Deselected;
  eeprom.shift = 0;
  eeprom.bits = 0;
}

}  // namespace

void attachEeprom(Eeprom93C46& eeprom, std::vector<std::uint8_t>& cells) {
  eeprom = Eeprom93C46{};
  eeprom.cells = &cells;
}

void resetEeprom(Eeprom93C46& eeprom) {
  eeprom.cs = false;
  eeprom.sk = false;
  eeprom.di = false;
  eeprom.phase = EepromPhase::Deselected;
  eeprom.shift = 0;
  eeprom.bits = 0;
  eeprom.writeEnabled = false;
  eeprom.armed = EepromCycle::None;
  eeprom.busyUntilUs = 0;
  eeprom.showStatus = false;
  eeprom.readBit = 0;
  eeprom.dataOut = false;
}

void eepromSetPins(Eeprom93C46& eeprom, bool cs, bool sk, bool di, std::uint64_t nowUs) {
  const bool wasSelected = eeprom.cs;
  const bool clockRose = sk && !eeprom.sk;
  const bool dataChanged = di != eeprom.di;
  eeprom.cs = cs;
  eeprom.sk = sk;
  eeprom.di = di;

  if (!fitted(eeprom)) {
    // Nothing answers; an instruction's start bit is where the host finds out.
    if (!cs) {
      eeprom.phase = EepromPhase::Deselected;
    } else if (!wasSelected) {
      eeprom.phase = EepromPhase::WaitStart;
    } else if (clockRose && di && eeprom.phase == EepromPhase::WaitStart) {
      ++eeprom.faultsFired;
      eeprom.phase = EepromPhase::Ignore;
    }
    return;
  }

  if (!cs) {
    if (wasSelected) deselect(eeprom, nowUs);
    return;
  }
  if (!wasSelected) {
    eeprom.phase = EepromPhase::WaitStart;
    eeprom.shift = 0;
    eeprom.bits = 0;
    // The clock needs chip select set up before it rises.
    if (clockRose) addViolation(eeprom, "eeprom: clock rose together with chip select; edge not taken");
    return;
  }
  if (!clockRose) return;
  if (dataChanged && eeprom.phase != EepromPhase::ReadOut) {
    addViolation(eeprom, "eeprom: data in changed together with the rising clock");
  }
  clockIn(eeprom, di, nowUs);
}

bool eepromDataOut(const Eeprom93C46& eeprom, std::uint64_t nowUs) {
  if (!fitted(eeprom) || !eeprom.cs) return kEepromDataOutUndriven;
  if (eeprom.phase == EepromPhase::ReadOut) return eeprom.dataOut;
  if (eeprom.showStatus && (eeprom.phase == EepromPhase::WaitStart || eeprom.phase == EepromPhase::Ignore)) {
    return nowUs >= eeprom.busyUntilUs;
  }
  return kEepromDataOutUndriven;
}

}  // namespace vprog
