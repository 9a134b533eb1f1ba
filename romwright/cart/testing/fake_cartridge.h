// A game cartridge in a programmer, answering the command stream that a
// recording fake driver receives: block reads from its ROM and save RAM,
// block writes into its save RAM. ROM and save RAM repeat through the bus
// window the way a board that does not decode the high address lines shows
// them (offset modulo size).
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "cartlink/protocol.h"
#include "platform/testing/recording_driver.h"

namespace romwright::testing {

struct FakeCartridge {
  bool hiRom = false;
  std::vector<std::uint8_t> rom;
  std::vector<std::uint8_t> sram;  // empty: no save RAM
  // Called with every block before it is answered, e.g. to make a second
  // reading differ from the first.
  std::function<void(cartlink::BusAddress, std::uint8_t* block)> onBlockRead;

  // What the board went through.
  std::uint8_t control = 0;
  std::vector<cartlink::BusAddress> blockReads;
  std::vector<cartlink::BusAddress> blockWrites;
  std::vector<std::uint8_t> unparsed;  // a command still waiting for its bytes
};

// The byte the board shows at a bus address under the current control value.
// ROM answers only with control 0x01; the LoROM save RAM (banks 0x70-0x7D,
// below 0x8000) with 0x01, the HiROM one (banks 0x20-0x3F, 0x6000-0x7FFF)
// with 0x00. Anything it does not answer reads as 0xEE.
std::uint8_t busByte(const FakeCartridge& cart, cartlink::BusAddress address);

// Makes the driver's writes reach the cartridge and its replies go to reads.
void insertCartridge(FakeCartridge& cart, platform::testing::RecordingDriver& driver);

// ROM contents in which no two 1 KB blocks are equal and few bytes are 0x00
// or 0xFF.
std::vector<std::uint8_t> distinctRom(std::size_t size, std::uint32_t seed = 1);

}  // namespace romwright::testing
