// Reads the cartridge back and compares it with a loaded image.
#pragma once

#include "romwright/cart/cart_session.h"
#include "romwright/image/rom_image.h"

namespace romwright {

// Compares the ROM window of the session's map mode with the image, chunk by
// chunk until every image byte has been compared (at least one chunk),
// printing "Verifying...", a "." per equal chunk, an "X" for the first
// differing one, then "GOOD" or "Failed!". The image's own map mode is not
// consulted. True only when every chunk compared equal; a link failure ends
// the comparison at once without a verdict and gives false.
bool verifyCartridge(RomImage& image, CartSession& session);

}  // namespace romwright
