#include "virtual_programmer/cart_map.h"

#include <algorithm>
#include <bit>

#include "virtual_programmer/flash_chip.h"

namespace vprog {
namespace {

// Every decoding boundary of the bus (save RAM windows at 6000 and in the
// lower half of a bank, the ROM half at 8000, bank ends) is a multiple of
// this, so an undecoded address stays undecoded up to the next multiple.
constexpr std::uint32_t kDecodeGrain = 0x2000;

// LoROM boards put save RAM into the lower halves of banks 70-7F (and their
// mirrors F0-FF), 32 KB per bank, selected with ROM select.
constexpr std::uint32_t kLoRomRamFirstBank = 0x70;
constexpr std::uint32_t kLoRomRamBankSize = 0x8000;
// HiROM and ExHiROM boards put it at 6000-7FFF of banks 20-3F (and A0-BF),
// 8 KB per bank, selected without ROM select; banks 20-2F repeat 30-3F.
constexpr std::uint32_t kHiRomRamFirstBank = 0x20;
constexpr std::uint32_t kHiRomRamLastBank = 0x3F;
constexpr std::uint32_t kHiRomRamStart = 0x6000;
constexpr std::uint32_t kHiRomRamEnd = 0x8000;
constexpr std::uint32_t kHiRomRamBankSize = 0x2000;
// ExHiROM: banks 00-7F show the ROM from 4 MB on, banks 80-FF its first 4 MB.
constexpr std::uint32_t kExHiRomUpperHalf = 0x400000;

BusMapping none(std::uint32_t address) {
  return {BusTarget::None, 0, kDecodeGrain - (address & (kDecodeGrain - 1))};
}

BusMapping mirrored(BusTarget target, std::uint32_t spaceOffset, std::uint32_t spaceRun,
                    std::uint32_t size, std::uint32_t address) {
  if (size == 0) return none(address);
  const Mirrored at = mirrorInto(spaceOffset, size);
  return {target, at.offset, std::min(spaceRun, at.run)};
}

bool loRomWiring(const CartView& view) { return view.mode == MapMode::LoRom; }

// The ROM (or flash) with ROM select asserted. A LoROM board does not wire
// A15 to the ROM, so a lower half shows the upper half of its bank; a HiROM
// board wires all sixteen address lines.
BusMapping romAt(const CartView& view, BusTarget target, std::uint32_t size, std::uint32_t address) {
  const std::uint32_t bank = (address >> 16) & 0xFF;
  const std::uint32_t inBank = address & 0xFFFF;
  switch (view.mode) {
    case MapMode::LoRom: {
      const std::uint32_t low = inBank & 0x7FFF;
      return mirrored(target, (bank & 0x7F) * 0x8000 + low, 0x8000 - low, size, address);
    }
    case MapMode::HiRom:
      return mirrored(target, (bank & 0x3F) * 0x10000 + inBank, 0x10000 - inBank, size, address);
    case MapMode::ExHiRom: {
      const std::uint32_t half = (bank & 0x80) != 0 ? 0 : kExHiRomUpperHalf;
      return mirrored(target, half + (bank & 0x3F) * 0x10000 + inBank, 0x10000 - inBank, size,
                      address);
    }
  }
  return none(address);
}

}  // namespace

Mirrored mirrorInto(std::uint32_t offset, std::uint32_t size) {
  if (size == 0) return {0, 1};
  std::uint32_t base = 0;
  std::uint32_t run = UINT32_MAX;
  while (offset >= size) {
    // The top address line of the offset selects the upper half of a
    // power-of-two space. Where the memory has more than that half, the
    // upper half holds its remainder; otherwise the upper half repeats the
    // lower one.
    const std::uint32_t top = std::bit_floor(offset);
    run = std::min(run, 2 * top - offset);
    offset -= top;
    if (size > top) {
      size -= top;
      base += top;
    }
  }
  run = std::min(run, size - offset);
  return {base + offset, run};
}

CartView viewOf(const VirtualCart& cart, MapMode flashMode) {
  CartView view;
  view.kind = cart.kind;
  view.saveRamSize = static_cast<std::uint32_t>(cart.sram.size());
  if (cart.kind == CartKind::Flash) {
    view.mode = flashMode == MapMode::HiRom ? MapMode::HiRom : MapMode::LoRom;
    view.romSize = kFlashSize;
  } else {
    view.mode = cart.mapMode;
    view.romSize = static_cast<std::uint32_t>(cart.rom.size());
    view.superFxRamSize = static_cast<std::uint32_t>(cart.superFxRam.size());
  }
  return view;
}

BusMapping mapBus(const CartView& view, std::uint32_t address, bool romSelect, bool write) {
  address &= 0xFFFFFF;
  const std::uint32_t bank = (address >> 16) & 0x7F;
  const std::uint32_t inBank = address & 0xFFFF;
  const BusTarget memory = view.kind == CartKind::Flash ? BusTarget::Flash : BusTarget::Rom;

  if (romSelect) {
    if (loRomWiring(view) && bank >= kLoRomRamFirstBank && inBank < 0x8000) {
      const std::uint32_t space = (bank - kLoRomRamFirstBank) * kLoRomRamBankSize + inBank;
      const std::uint32_t run = kLoRomRamBankSize - inBank;
      if (view.superFxRamSize != 0) {
        return mirrored(BusTarget::SuperFxRam, space, run, view.superFxRamSize, address);
      }
      // The flash cartridge decodes this window for its save RAM whether or
      // not one is fitted: without it nothing answers, and the flash never
      // sees the save RAM clear that follows every programming run. A game
      // board without save RAM shows its ROM here.
      if (view.saveRamSize != 0 || view.kind == CartKind::Flash) {
        return mirrored(BusTarget::SaveRam, space, run, view.saveRamSize, address);
      }
    }
    return romAt(view, memory, view.romSize, address);
  }

  if (!loRomWiring(view) && bank >= kHiRomRamFirstBank && bank <= kHiRomRamLastBank &&
      inBank >= kHiRomRamStart && inBank < kHiRomRamEnd) {
    const std::uint32_t space = (bank & 0x0F) * kHiRomRamBankSize + (inBank - kHiRomRamStart);
    return mirrored(BusTarget::SaveRam, space, kHiRomRamEnd - inBank, view.saveRamSize, address);
  }
  // The flash cartridge latches the settings EEPROM's lines from writes to
  // the upper half of bank 00 that come without ROM select.
  if (write && view.kind == CartKind::Flash && (address >> 16) == 0x00 && (inBank & 0x8000) != 0) {
    return {BusTarget::EepromLines, inBank, 1};
  }
  return none(address);
}

}  // namespace vprog
