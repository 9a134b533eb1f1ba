// What the tests of the cartridge reads share: a session on an open link to
// a recording fake driver with a fake cartridge in the slot, and checks on
// the files the reads leave behind.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "cartlink/cartlink.h"
#include "platform/testing/recording_driver.h"
#include "romwright/cart/cart_session.h"
#include "romwright/cart/testing/fake_cartridge.h"

namespace romwright::testing {

struct CartBench {
  platform::testing::RecordingDriver fake;
  platform::testing::ManualClock time;
  platform::Driver driver;
  platform::Clock clock;
  cartlink::DeviceLink link;
  CartSession session;
  FakeCartridge cart;

  // isHiRom is both the cartridge's map mode and the session's.
  explicit CartBench(bool hiRom = false);
  CartBench(const CartBench&) = delete;
  CartBench& operator=(const CartBench&) = delete;

  // How many writes the driver has taken since the open.
  std::size_t writeCount() const;
};

struct LimitedRun {
  int exitCode = -1;   // the child's exit code; -1 when it did not exit normally
  std::string out;     // what it printed on stdout
};
// Runs work in a forked child whose files may not grow beyond limitBytes
// (the signal that a process gets for that is ignored, so the write fails
// with EFBIG as on a full disk). The child exits with work's result: 0 for
// true, 1 for false.
LimitedRun runWithFileSizeLimit(unsigned long limitBytes, const std::function<bool()>& work);

}  // namespace romwright::testing
