#include <cstdio>
#include <utility>

#include "romwright/app/run.h"

namespace romwright {

bool loadFlashImage(RunContext& run) {
  if (!run.options.flashWritePath) return true;
  RomImage image;
  if (!loadRomFile(run.options.flashWritePath->c_str(), run.options.mirror, image)) return false;
  if (run.options.autoDetect) {
    // The image's own header decides the run's map mode and save RAM size.
    run.hiRom = image.isHiRom != 0;
    run.sramKb = image.sramKb;
    std::printf("Autodetected %s, SaveRAM %d kB\n\n", run.hiRom ? "HIROM" : "LOROM", run.sramKb);
    run.options.autoDetect = false;
  }
  run.flashImage = std::move(image);
  return true;
}

// Identify, erase, program, verify and clear the save RAM: arrives with the
// flash chip work.
bool flashWriteStep(RunContext&) { return true; }

}  // namespace romwright
