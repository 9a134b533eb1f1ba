// The programmer's byte command protocol: nine one-letter commands, each a
// command byte followed by a fixed number of bytes. No framing, no checksum:
// the command byte alone tells the length, replies come back in command order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace cartlink {

// A 24-bit cartridge bus address; bits 16-23 are the bank. On the wire: low
// byte, high byte, bank byte.
using BusAddress = std::uint32_t;

inline constexpr std::uint8_t CMD_CONTROL = 0x43;               // 'C' + control byte
inline constexpr std::uint8_t CMD_POWER = 0x50;                 // 'P' + 0x01 on / 0x00 off
inline constexpr std::uint8_t CMD_READ_BLOCK = 0x52;            // 'R' + address -> 1024 bytes
inline constexpr std::uint8_t CMD_READ_BYTE = 0x72;             // 'r' + address -> 1 byte
inline constexpr std::uint8_t CMD_WRITE_BYTE = 0x77;            // 'w' + address + data
inline constexpr std::uint8_t CMD_WRITE_BLOCK = 0x57;           // 'W' + address + 1024 bytes
inline constexpr std::uint8_t CMD_FLASH_BLOCK = 0x46;           // 'F' + address + 1024 bytes -> status
inline constexpr std::uint8_t CMD_SET_PROGRAM_SEQUENCE = 0x47;  // 'G' + 3 x (address + data)
inline constexpr std::uint8_t CMD_STATUS = 0x53;                // 'S' -> status byte

inline constexpr std::size_t kBlockSize = 1024;
inline constexpr std::size_t kChunkBlocks = 32;
inline constexpr std::size_t kChunkSize = kBlockSize * kChunkBlocks;

// A flash block that programmed answers '.'; anything else is a failure.
inline constexpr std::uint8_t kFlashBlockOk = 0x2E;

// The length of a whole command (command byte included) from its command
// byte, or 0 for a byte that is no command.
std::size_t commandLength(std::uint8_t command);
// The number of reply bytes a command makes the board send.
std::size_t replyLength(std::uint8_t command);

// One write cycle of a flash chip command sequence.
struct WriteCycle {
  BusAddress address;
  std::uint8_t data;
};

// Encoders append one command to a stream, so that several commands can go
// out back to back in one write.
using ByteStream = std::vector<std::uint8_t>;

void appendAddress(ByteStream& out, BusAddress address);
void appendControl(ByteStream& out, std::uint8_t value);
void appendPower(ByteStream& out, std::uint8_t value);
void appendReadBlock(ByteStream& out, BusAddress address);
void appendReadByte(ByteStream& out, BusAddress address);
void appendWriteByte(ByteStream& out, BusAddress address, std::uint8_t value);
// The head of CMD_WRITE_BLOCK / CMD_FLASH_BLOCK: command byte and address;
// the 1024 data bytes follow in a write of their own.
void appendBlockHead(ByteStream& out, std::uint8_t command, BusAddress address);
void appendProgramSequence(ByteStream& out, const WriteCycle (&cycles)[3]);
void appendStatus(ByteStream& out);

// bank:address in hexadecimal, as "00:8AAA".
std::string formatBusAddress(BusAddress address);

}  // namespace cartlink
