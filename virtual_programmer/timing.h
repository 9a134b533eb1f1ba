// Every time constant of the virtual programmer, in one place, each with its
// source. Virtual time runs in microseconds.
#pragma once

#include <cstdint>

namespace vprog::timing {

// ---- USB link (FTDI full-speed bridge) -------------------------------------
// The board talks to the host through an FTDI full-speed USB FIFO bridge.
// FT245R data sheet, features: "transfer data rate up to 1 Mbyte/second";
// the model charges every byte that crosses the link, in either direction,
// at that rate.
inline constexpr std::uint64_t kUsbBytesPerSecond = 1'000'000;
// AN232B-04 ("Data Throughput, Latency and Handshaking"): a bulk IN packet
// is 64 bytes, two of which carry the modem status, so 62 data bytes.
inline constexpr std::uint64_t kUsbPacketDataBytes = 62;
// AN232B-04: data that does not fill a packet is sent when the latency
// timer runs out, 16 ms by default; the programs never change it. A reply
// shorter than one packet therefore reaches the host that much later.
inline constexpr std::uint64_t kUsbLatencyTimerUs = 16'000;

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
