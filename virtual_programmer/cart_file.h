// The virtual cartridge file: one versioned file holding everything of a
// VirtualCart, saved atomically so that a crash never leaves half a file.
#pragma once

#include <string>

#include "virtual_programmer/cart_state.h"

namespace vprog {

// Refuses a missing, truncated, foreign or newer-version file with a message
// in error; cart is then unchanged.
bool loadCartFile(const std::string& path, VirtualCart& cart, std::string& error);
// Writes a temporary file in the same folder and renames it over path.
bool saveCartFile(const std::string& path, const VirtualCart& cart, std::string& error);

}  // namespace vprog
