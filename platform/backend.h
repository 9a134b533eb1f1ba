// Chooses, once per run and before the open, which driver and clock the
// programs talk to.
#pragma once

#include <memory>

#include "platform/clock.h"
#include "platform/driver.h"

namespace platform {

// Names a virtual cartridge file: the run then talks to the virtual
// programmer with that cartridge in its slot instead of a real board.
inline constexpr const char* kVirtualCartVariable = "CARTLINK_VIRTUAL_CART";

struct Backend {
  Driver driver{};
  Clock clock{};
  // Whatever the backend holds (the loaded library, the virtual board),
  // released with the backend.
  std::shared_ptr<void> owner;
};

// The virtual programmer when CARTLINK_VIRTUAL_CART is set, otherwise the
// vendor library. When neither can be set up, one line on stderr says what
// was tried and the backend's driver is unavailableDriver(), so the open
// fails with the programs' own message.
Backend chooseBackend();

}  // namespace platform
