// The virtual programmer as a driver backend: a simulated board with the
// cartridge of a virtual cartridge file in its slot, and its simulated clock.
#pragma once

#include <string>

#include "platform/backend.h"

namespace vprog {

// Loads the virtual cartridge file and fills the backend with the virtual
// board's driver and clock. The cartridge file is saved back when the device
// is closed. On failure, error says why and the backend is left untouched.
bool makeVirtualBackend(const char* cartPath, platform::Backend& backend, std::string& error);

}  // namespace vprog
