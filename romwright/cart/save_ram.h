// The cartridge's battery-backed save RAM: read into a file with its size
// found by halving, written from a file, cleared.
#pragma once

#include <cstdint>

#include "cartlink/protocol.h"
#include "romwright/cart/cart_session.h"

namespace romwright {

// Where the save RAM answers, by map mode, and the control byte under which
// the board reaches it.
struct SaveRamWindow {
  cartlink::BusAddress first;
  std::uint32_t length;  // bytes, whole blocks
  std::uint8_t control;
};
SaveRamWindow saveRamWindow(bool isHiRom);

// Reads the whole window and writes its first 2 KB to 32 KB to path: the
// window is halved while its first half equals its second. Prints "Reading
// Save RAM..." and "Read %d Bytes". False when the file could not be created
// (nothing is sent then) or written, or the link failed; the file is then
// left as it was before (see output_file.h).
bool readSaveRam(CartSession& session, const char* path);

// Writes the file at path into the window, in whole blocks: the file's
// length rounded up to 1 KB, at most the window; bytes of the last block past
// the file's end are 0x00. Prints "Writing Save RAM..." and "Wrote %d Bytes".
// False when the file cannot be read whole (nothing is sent then) or the link
// failed.
bool writeSaveRam(const char* path, CartSession& session);

// Fills the window with zeros. Prints nothing; false when the link failed.
bool clearSaveRam(CartSession& session);

}  // namespace romwright
