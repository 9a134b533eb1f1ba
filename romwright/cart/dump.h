// Copies the ROM of the cartridge in the slot into a file, finding the ROM's
// size by itself unless a read-back limit is given.
#pragma once

#include "romwright/cart/cart_session.h"

namespace romwright {

// The kB the first chunk is compared against for a mirror (the chunk starting
// there), when no limit is given.
inline constexpr int kDumpCheckPointsKb[] = {256, 512, 1024, 1536, 2048, 3072};

// Reads the ROM window of the session's map mode chunk by chunk into the
// file at path: limitKb > 0 reads that many kB rounded up to whole 32 KB
// chunks; 0 stops at the first check point whose chunk repeats the first
// chunk; 4 MB at most. Prints "Reading ROM...", a dot per chunk and the kB
// read. Returns the kB written, or -1 when the dump failed: the file could
// not be created (nothing is sent then), could not be written, or the link
// failed. A failed dump leaves no file under path and an earlier file of that
// name as it was (see output_file.h).
int dumpRom(CartSession& session, const char* path, int limitKb);

}  // namespace romwright
