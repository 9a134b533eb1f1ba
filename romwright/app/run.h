// The run frame of the flash tool: parse, load the flash image, open the
// programmer, power the slot, run the work steps in their fixed order, power
// down, and end with an exit status.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/backend.h"
#include "romwright/app/options.h"
#include "romwright/cart/cart_session.h"
#include "romwright/image/rom_image.h"

namespace romwright {

// Every requested step succeeded (help and -x included).
inline constexpr int kExitOk = 0;
// A work step failed: an ERROR line, an erase error, a failed program or
// verify, or a device I/O failure.
inline constexpr int kExitStepFailed = 1;
// The -wf file did not load or the programmer could not be opened.
inline constexpr int kExitNotStarted = 255;

// What the work steps share during one run.
struct RunContext {
  RunOptions options;
  // The run's map mode and save RAM size: the manual options at first, then
  // the -wf image's header when detection is on.
  bool hiRom = false;
  int sramKb = 0;
  // Loaded before the programmer is opened; released by the frame at the end.
  std::optional<RomImage> flashImage;
  CartSession* session = nullptr;  // set once the programmer is open
};

// The work steps, in the order the frame runs them. Each prints its own lines
// and returns false when it failed; a step whose option was not given does
// nothing and returns true.
bool loadFlashImage(RunContext& run);  // before the open; false ends the run with 255
bool settingsSteps(RunContext& run);
bool romReadStep(RunContext& run);
bool flashWriteStep(RunContext& run);
bool saveRamSteps(RunContext& run);

// Map mode detection on the cartridge, at most once per run: runs only while
// autoDetect is still set, and clears it.
void detectOnDemand(RunContext& run);

void printBanner();

// The steps a run calls, in a table so the frame can be exercised on its own.
struct WorkSteps {
  bool (*loadFlashImage)(RunContext&);
  bool (*settings)(RunContext&);
  bool (*romRead)(RunContext&);
  bool (*flashWrite)(RunContext&);
  bool (*saveRam)(RunContext&);
};
WorkSteps defaultWorkSteps();

// The whole run. The backend is chosen only when the programmer is about to
// be opened, so help and a failed load never touch a driver.
int runRomwright(const std::vector<std::string>& args,
                 const std::function<platform::Backend()>& chooseBackend,
                 const WorkSteps& steps = defaultWorkSteps());

}  // namespace romwright
