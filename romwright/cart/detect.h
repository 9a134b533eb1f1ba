// Decides whether the cartridge in the slot answers in the HiROM or the
// LoROM window.
#pragma once

#include "romwright/cart/cart_session.h"

namespace romwright {

// Reads 1 KB at 40:7C00 (A), 40:FC00 (B) and 40:0000 (C) and sets the
// session's isHiRom: LoROM when A equals B or A equals C, HiROM otherwise.
// Prints nothing. False, with isHiRom untouched, when the link failed.
bool detectMapMode(CartSession& session);

}  // namespace romwright
