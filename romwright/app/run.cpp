#include "romwright/app/run.h"

#include <cstdio>

#include "cartlink/cartlink.h"

namespace romwright {
namespace {

// Tells a flash cartridge to take up its stored settings before any ROM,
// flash or save RAM access; sent on every powered run.
bool sendModeSwitch(RunContext& run) {
  cartlink::setControl(*run.session->link, 0x02);
  return true;
}

}  // namespace

WorkSteps defaultWorkSteps() {
  return WorkSteps{.loadFlashImage = loadFlashImage,
                   .settings = settingsSteps,
                   .romRead = romReadStep,
                   .flashWrite = flashWriteStep,
                   .saveRam = saveRamSteps};
}

void printBanner() { std::printf("romwright 1.0 - SNES flash cartridge programmer\n\n"); }

int runRomwright(const std::vector<std::string>& args,
                 const std::function<platform::Backend()>& chooseBackend, const WorkSteps& steps) {
  RunContext run;
  run.options = parseRunOptions(args);
  printBanner();
  if (run.options.showHelp) {
    std::printf("%s\n", kHelpText);
    return kExitOk;
  }
  run.hiRom = run.options.hiRom;
  run.sramKb = run.options.sramKb;

  if (!steps.loadFlashImage(run)) return kExitNotStarted;

  std::fflush(stdout);
  platform::Backend backend = chooseBackend();
  cartlink::DeviceLink link = cartlink::makeDeviceLink(backend.driver, backend.clock);
  if (!cartlink::open(link, cartlink::kDeviceDescription)) {
    std::printf("ERROR: Could not open FTDI device\n");
    return kExitNotStarted;
  }
  CartSession session;
  session.link = &link;
  run.session = &session;

  if (run.options.powerOffOnly) {
    cartlink::forcePowerOff(link);
    return kExitOk;
  }

  cartlink::powerOn(link);
  session.isHiRom = run.hiRom ? 1 : 0;

  bool (*const order[])(RunContext&) = {steps.settings, sendModeSwitch, steps.romRead,
                                        steps.flashWrite, steps.saveRam};
  bool allSucceeded = true;
  for (auto step : order) {
    allSucceeded = step(run) && allSucceeded;
    if (link.ioFailed) {
      // Whatever the board sent is not to be trusted; stop here and leave the
      // slot switched off.
      std::printf("ERROR: Device I/O failed\n");
      cartlink::powerOff(link);
      return kExitStepFailed;
    }
  }
  cartlink::powerOff(link);
  return allSucceeded ? kExitOk : kExitStepFailed;
}

}  // namespace romwright
