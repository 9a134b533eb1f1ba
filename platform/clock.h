// The clock seam: a millisecond tick counter and a millisecond pause. The
// system clock measures wall time; the virtual programmer supplies a simulated
// clock so that pauses and device time cost no real waiting.
#pragma once

#include <cstdint>

namespace platform {

struct Clock {
  void* state;
  std::uint64_t (*ticksMs)(void* state);
  void (*pauseMs)(void* state, std::uint32_t ms);
};

Clock systemClock();

}  // namespace platform
