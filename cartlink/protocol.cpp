#include "cartlink/protocol.h"

#include <cstdio>

namespace cartlink {

std::size_t commandLength(std::uint8_t command) {
  switch (command) {
    case CMD_CONTROL:
    case CMD_POWER:
      return 2;
    case CMD_READ_BLOCK:
    case CMD_READ_BYTE:
      return 4;
    case CMD_WRITE_BYTE:
      return 5;
    case CMD_WRITE_BLOCK:
    case CMD_FLASH_BLOCK:
      return 4 + kBlockSize;
    case CMD_SET_PROGRAM_SEQUENCE:
      return 13;
    case CMD_STATUS:
      return 1;
    default:
      return 0;
  }
}

std::size_t replyLength(std::uint8_t command) {
  switch (command) {
    case CMD_READ_BLOCK:
      return kBlockSize;
    case CMD_READ_BYTE:
    case CMD_FLASH_BLOCK:
    case CMD_STATUS:
      return 1;
    default:
      return 0;
  }
}

void appendAddress(ByteStream& out, BusAddress address) {
  out.push_back(static_cast<std::uint8_t>(address & 0xFF));
  out.push_back(static_cast<std::uint8_t>((address >> 8) & 0xFF));
  out.push_back(static_cast<std::uint8_t>((address >> 16) & 0xFF));
}

void appendControl(ByteStream& out, std::uint8_t value) {
  out.push_back(CMD_CONTROL);
  out.push_back(value);
}

void appendPower(ByteStream& out, std::uint8_t value) {
  out.push_back(CMD_POWER);
  out.push_back(value);
}

void appendReadBlock(ByteStream& out, BusAddress address) {
  out.push_back(CMD_READ_BLOCK);
  appendAddress(out, address);
}

void appendReadByte(ByteStream& out, BusAddress address) {
  out.push_back(CMD_READ_BYTE);
  appendAddress(out, address);
}

void appendWriteByte(ByteStream& out, BusAddress address, std::uint8_t value) {
  out.push_back(CMD_WRITE_BYTE);
  appendAddress(out, address);
  out.push_back(value);
}

void appendBlockHead(ByteStream& out, std::uint8_t command, BusAddress address) {
  out.push_back(command);
  appendAddress(out, address);
}

void appendProgramSequence(ByteStream& out, const WriteCycle (&cycles)[3]) {
  out.push_back(CMD_SET_PROGRAM_SEQUENCE);
  for (const auto& cycle : cycles) {
    appendAddress(out, cycle.address);
    out.push_back(cycle.data);
  }
}

void appendStatus(ByteStream& out) { out.push_back(CMD_STATUS); }

std::string formatBusAddress(BusAddress address) {
  char text[16];
  std::snprintf(text, sizeof text, "%02X:%04X", static_cast<unsigned>((address >> 16) & 0xFF),
                static_cast<unsigned>(address & 0xFFFF));
  return text;
}

}  // namespace cartlink
