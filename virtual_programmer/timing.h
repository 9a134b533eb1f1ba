// Every time constant of the virtual programmer, in one place, each with its
// source. Virtual time runs in microseconds.
#pragma once

#include <cstdint>

namespace vprog::timing {

// ---- USB link (FTDI full-speed bridge) -------------------------------------
// Filled in by the board model.

// ---- Flash chips and serial EEPROM ----------------------------------------
// Filled in by the chip models.

}  // namespace vprog::timing
