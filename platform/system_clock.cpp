#include <chrono>
#include <thread>

#include "platform/clock.h"

namespace platform {
namespace {

std::uint64_t steadyTicksMs(void*) {
  auto since = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<std::uint64_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
}

void sleepMs(void*, std::uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

}  // namespace

Clock systemClock() { return Clock{.state = nullptr, .ticksMs = steadyTicksMs, .pauseMs = sleepMs}; }

}  // namespace platform
