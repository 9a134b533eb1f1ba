#include "romwright/cart/testing/fake_cartridge.h"

#include <algorithm>

namespace romwright::testing {
namespace {

constexpr std::uint8_t kNoAnswer = 0xEE;

bool inLoRomSaveRam(std::uint32_t bank, std::uint32_t offset) {
  return bank >= 0x70 && bank <= 0x7D && offset < 0x8000;
}

bool inHiRomSaveRam(std::uint32_t bank, std::uint32_t offset) {
  return bank >= 0x20 && bank <= 0x3F && offset >= 0x6000 && offset < 0x8000;
}

std::size_t saveRamIndex(const FakeCartridge& cart, std::uint32_t bank, std::uint32_t offset) {
  std::size_t at = cart.hiRom ? offset - 0x6000 : (bank - 0x70) * 0x8000 + offset;
  return at % cart.sram.size();
}

bool isSaveRam(const FakeCartridge& cart, std::uint32_t bank, std::uint32_t offset) {
  if (cart.sram.empty()) return false;
  return cart.hiRom ? inHiRomSaveRam(bank, offset) : inLoRomSaveRam(bank, offset);
}

constexpr std::size_t kNoRom = static_cast<std::size_t>(-1);

// The ROM byte shown at a bus address, or kNoRom.
std::size_t romIndex(const FakeCartridge& cart, std::uint32_t bank, std::uint32_t offset) {
  if (cart.control != 0x01 || cart.rom.empty()) return kNoRom;
  std::size_t at;
  if (cart.hiRom) {
    if ((bank & 0x7F) < 0x40 && offset < 0x8000) return kNoRom;
    at = ((bank & 0x3F) << 16) | offset;
  } else {
    // Address line 15 is not decoded: the lower half of a bank shows the upper.
    at = ((bank & 0x7F) << 15) | (offset & 0x7FFF);
  }
  return at % cart.rom.size();
}

void execute(FakeCartridge& cart, platform::testing::RecordingDriver& driver,
             const std::uint8_t* command) {
  if (command[0] == cartlink::CMD_CONTROL) {
    cart.control = command[1];
    return;
  }
  cartlink::BusAddress address = 0;
  if (cartlink::commandLength(command[0]) >= 4)
    address = command[1] | (command[2] << 8) | (command[3] << 16);
  switch (command[0]) {
    case cartlink::CMD_READ_BLOCK: {
      cart.blockReads.push_back(address);
      std::uint8_t block[cartlink::kBlockSize];
      std::uint32_t bank = (address >> 16) & 0xFF, offset = address & 0xFFFF;
      std::size_t at = romIndex(cart, bank, offset);
      if (!isSaveRam(cart, bank, offset) && at != kNoRom && (offset & 0x3FF) == 0 &&
          at + cartlink::kBlockSize <= cart.rom.size()) {
        // A whole aligned block of ROM lies in one piece.
        std::copy(cart.rom.begin() + static_cast<long>(at),
                  cart.rom.begin() + static_cast<long>(at + cartlink::kBlockSize), block);
      } else {
        for (std::size_t i = 0; i < cartlink::kBlockSize; ++i)
          block[i] = busByte(cart, address + static_cast<cartlink::BusAddress>(i));
      }
      if (cart.onBlockRead) cart.onBlockRead(address, block);
      driver.replies.insert(driver.replies.end(), block, block + cartlink::kBlockSize);
      break;
    }
    case cartlink::CMD_READ_BYTE:
      driver.replies.push_back(busByte(cart, address));
      break;
    case cartlink::CMD_WRITE_BLOCK: {
      cart.blockWrites.push_back(address);
      for (std::size_t i = 0; i < cartlink::kBlockSize; ++i) {
        cartlink::BusAddress at = address + static_cast<cartlink::BusAddress>(i);
        std::uint32_t bank = (at >> 16) & 0xFF, offset = at & 0xFFFF;
        bool reachable = cart.hiRom ? cart.control == 0x00 : cart.control == 0x01;
        if (reachable && isSaveRam(cart, bank, offset))
          cart.sram[saveRamIndex(cart, bank, offset)] = command[4 + i];
      }
      break;
    }
    case cartlink::CMD_FLASH_BLOCK:
      driver.replies.push_back('X');  // a game cartridge's ROM cannot be programmed
      break;
    case cartlink::CMD_STATUS:
      driver.replies.push_back(0x00);
      break;
    default:
      break;
  }
}

}  // namespace

std::uint8_t busByte(const FakeCartridge& cart, cartlink::BusAddress address) {
  std::uint32_t bank = (address >> 16) & 0xFF, offset = address & 0xFFFF;
  if (isSaveRam(cart, bank, offset)) {
    bool reachable = cart.hiRom ? cart.control == 0x00 : cart.control == 0x01;
    return reachable ? cart.sram[saveRamIndex(cart, bank, offset)] : kNoAnswer;
  }
  std::size_t at = romIndex(cart, bank, offset);
  return at == kNoRom ? kNoAnswer : cart.rom[at];
}

void insertCartridge(FakeCartridge& cart, platform::testing::RecordingDriver& driver) {
  driver.onWrite = [&cart](platform::testing::RecordingDriver& d,
                           const std::vector<std::uint8_t>& bytes) {
    cart.unparsed.insert(cart.unparsed.end(), bytes.begin(), bytes.end());
    std::size_t at = 0;
    while (at < cart.unparsed.size()) {
      std::size_t length = cartlink::commandLength(cart.unparsed[at]);
      if (length == 0) {  // a zero or stray byte between commands
        ++at;
        continue;
      }
      if (cart.unparsed.size() - at < length) break;
      execute(cart, d, cart.unparsed.data() + at);
      at += length;
    }
    cart.unparsed.erase(cart.unparsed.begin(), cart.unparsed.begin() + static_cast<long>(at));
  };
}

std::vector<std::uint8_t> distinctRom(std::size_t size, std::uint32_t seed) {
  std::vector<std::uint8_t> rom(size);
  std::uint32_t state = seed * 2654435761u + 12345u;
  for (std::size_t i = 0; i < size; ++i) {
    state = state * 1103515245u + 12345u;
    std::uint8_t b = static_cast<std::uint8_t>(state >> 16);
    if (b == 0x00 || b == 0xFF) b = 0x5A;
    rom[i] = b;
  }
  return rom;
}

}  // namespace romwright::testing
