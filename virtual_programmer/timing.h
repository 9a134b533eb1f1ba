// Every time constant of the virtual programmer, in one place, each with its
// source. Virtual time runs in microseconds.
#pragma once

#include <cstdint>

namespace vprog::timing {

// ---- USB link (FTDI full-speed bridge) -------------------------------------
// Filled in by the board model.

// ---- Flash chips and serial EEPROM ----------------------------------------
// Flash: the typical figures of the Spansion S29JL032H data sheet ("Erase and
// Programming Performance", byte mode), used for all nine chips: six of the
// nine rows are that chip, and the others take the same command set. The
// data sheet gives one sector erase time for the 8 KB and the 64 KB sectors
// alike; its chip erase time is that of its 71 sectors. For comparison the
// Atmel AT49BV32xD family states 10 us per byte and 100 ms per 64 KB sector.
inline constexpr std::uint64_t kFlashByteProgramUs = 5;              // byte program time, typ.
inline constexpr std::uint64_t kFlashBootSectorEraseUs = 400'000;    // sector erase time, typ., 8 KB sector
inline constexpr std::uint64_t kFlashMainSectorEraseUs = 400'000;    // sector erase time, typ., 64 KB sector
inline constexpr std::uint64_t kFlashChipEraseUs = 28'000'000;       // chip erase time, typ.

// Serial EEPROM: the Microchip 93LC46A (128 x 8) AC characteristics, the
// 93-series part whose self-timed cycle starts when chip select falls. Only
// maximum times are given there; the model takes them.
inline constexpr std::uint64_t kEepromWriteCycleUs = 6'000;   // TWC, ERASE and WRITE
inline constexpr std::uint64_t kEepromEraseAllUs = 6'000;     // TEC, ERAL
inline constexpr std::uint64_t kEepromWriteAllUs = 15'000;    // TWL, WRAL

}  // namespace vprog::timing
