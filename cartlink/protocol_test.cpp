#include <gtest/gtest.h>

#include "cartlink/protocol.h"
#include "platform/testing/recording_driver.h"

namespace cartlink {
namespace {

using platform::testing::bytesOf;

struct EncodingCase {
  const char* what;
  ByteStream encoded;
  std::vector<std::uint8_t> expected;
};

ByteStream encode(void (*fill)(ByteStream&)) {
  ByteStream out;
  fill(out);
  return out;
}

TEST(Protocol, EncodingsOnTheWire) {
  const WriteCycle program[3] = {{0x008AAA, 0xAA}, {0x008555, 0x55}, {0x008AAA, 0xA0}};
  ByteStream sequence;
  appendProgramSequence(sequence, program);
  const EncodingCase cases[] = {
      {"control", encode([](ByteStream& o) { appendControl(o, 0x02); }), bytesOf({0x43, 0x02})},
      {"power on", encode([](ByteStream& o) { appendPower(o, 0x01); }), bytesOf({0x50, 0x01})},
      {"read block 40:7C00", encode([](ByteStream& o) { appendReadBlock(o, 0x407C00); }),
       bytesOf({0x52, 0x00, 0x7C, 0x40})},
      {"read byte 00:8002", encode([](ByteStream& o) { appendReadByte(o, 0x008002); }),
       bytesOf({0x72, 0x02, 0x80, 0x00})},
      {"write byte 0x90 to 00:8AAA",
       encode([](ByteStream& o) { appendWriteByte(o, 0x008AAA, 0x90); }),
       bytesOf({0x77, 0xAA, 0x8A, 0x00, 0x90})},
      {"flash block head 05:8400",
       encode([](ByteStream& o) { appendBlockHead(o, CMD_FLASH_BLOCK, 0x058400); }),
       bytesOf({0x46, 0x00, 0x84, 0x05})},
      {"write block head 30:6000",
       encode([](ByteStream& o) { appendBlockHead(o, CMD_WRITE_BLOCK, 0x306000); }),
       bytesOf({0x57, 0x00, 0x60, 0x30})},
      {"status", encode([](ByteStream& o) { appendStatus(o); }), bytesOf({0x53})},
      {"program sequence", sequence,
       bytesOf({0x47, 0xAA, 0x8A, 0x00, 0xAA, 0x55, 0x85, 0x00, 0x55, 0xAA, 0x8A, 0x00, 0xA0})},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.encoded, c.expected) << c.what;
    // Every encoder agrees with the length the board derives from the command byte
    // (block commands carry their 1024 data bytes in a second write).
    std::size_t length = commandLength(c.encoded[0]);
    if (length == 4 + kBlockSize) length = 4;
    EXPECT_EQ(length, c.encoded.size()) << c.what;
  }
}

TEST(Protocol, CommandBytesAndReplies) {
  const struct {
    std::uint8_t command;
    std::size_t length;
    std::size_t reply;
  } table[] = {
      {CMD_CONTROL, 2, 0},     {CMD_POWER, 2, 0},        {CMD_READ_BLOCK, 4, 1024},
      {CMD_READ_BYTE, 4, 1},   {CMD_WRITE_BYTE, 5, 0},   {CMD_WRITE_BLOCK, 1028, 0},
      {CMD_FLASH_BLOCK, 1028, 1}, {CMD_SET_PROGRAM_SEQUENCE, 13, 0}, {CMD_STATUS, 1, 1},
  };
  for (const auto& row : table) {
    EXPECT_EQ(commandLength(row.command), row.length) << int(row.command);
    EXPECT_EQ(replyLength(row.command), row.reply) << int(row.command);
  }
  // Zero is never a command: the board passes over it.
  EXPECT_EQ(commandLength(0x00), 0u);
  EXPECT_EQ(commandLength('x'), 0u);
}

TEST(Protocol, BusAddressText) {
  EXPECT_EQ(formatBusAddress(0x008AAA), "00:8AAA");
  EXPECT_EQ(formatBusAddress(0x7FFC00), "7F:FC00");
}

}  // namespace
}  // namespace cartlink
