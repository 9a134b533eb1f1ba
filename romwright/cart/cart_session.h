// The record through which every cartridge operation of the flash tool
// reaches the programmer.
#pragma once

#include <cstdint>

#include "cartlink/cartlink.h"

namespace romwright {

struct CartSession {
  // 1 = HiROM, 0 = LoROM: the map mode every bus address is formed with.
  std::uint8_t isHiRom = 0;
  // The row of the flash chip table found by the last identification, -1 when
  // none was found.
  std::int32_t chipIndex = 0;
  cartlink::DeviceLink* link = nullptr;
};

}  // namespace romwright
