#include <cstdio>

#include "romwright/app/run.h"
#include "romwright/cart/save_ram.h"

namespace romwright {

bool saveRamSteps(RunContext& run) {
  CartSession& session = *run.session;
  bool succeeded = true;
  // The read comes first whatever the order on the command line, so that
  // "-ws save.srm -rs copy.srm" keeps the save RAM as it was in copy.srm.
  if (run.options.sramReadPath) {
    detectOnDemand(run);
    if (session.link->ioFailed) return false;
    succeeded = readSaveRam(session, run.options.sramReadPath->c_str());
    std::printf("\n");
    if (session.link->ioFailed) return false;
  }
  if (run.options.sramWritePath) {
    detectOnDemand(run);
    if (session.link->ioFailed) return false;
    succeeded = writeSaveRam(run.options.sramWritePath->c_str(), session) && succeeded;
    std::printf("\n");
  }
  return succeeded;
}

}  // namespace romwright
