#include <sys/stat.h>

#include <cstdio>

#include "romwright/app/run.h"
#include "romwright/cart/detect.h"
#include "romwright/cart/dump.h"
#include "romwright/cart/verify.h"

namespace romwright {
namespace {

const char* mapModeWord(std::uint8_t isHiRom) { return isHiRom != 0 ? "HIROM" : "LOROM"; }

// A dump written to a device or a FIFO cannot be read back from it.
bool readableBack(const char* path) {
  struct stat info {};
  return ::stat(path, &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace

void detectOnDemand(RunContext& run) {
  if (!run.options.autoDetect) return;
  run.options.autoDetect = false;
  if (!detectMapMode(*run.session)) return;  // the link failed; the frame reports it
  std::printf("Autodetected %s\n\n", mapModeWord(run.session->isHiRom));
}

bool romReadStep(RunContext& run) {
  if (!run.options.romReadPath) return true;
  CartSession& session = *run.session;
  detectOnDemand(run);
  if (session.link->ioFailed) return false;

  const char* path = run.options.romReadPath->c_str();
  int kb = dumpRom(session, path, run.options.readBackKb);
  std::printf("\n");
  if (kb < 0) return false;

  // The cartridge is read a second time and compared with the file, which
  // catches reads that do not repeat.
  bool verified = false;
  if (!readableBack(path)) {
    std::fprintf(stderr, "romwright: %s is not a regular file; the dump is not verified\n", path);
    verified = true;
  } else {
    RomImage image;
    if (loadRomFile(path, false, image)) verified = verifyCartridge(image, session);
  }
  std::printf("\n");
  return verified;
}

}  // namespace romwright
