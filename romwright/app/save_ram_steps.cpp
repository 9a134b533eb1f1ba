#include "romwright/app/run.h"

namespace romwright {

// Arrives with the save RAM transfers.
bool saveRamSteps(RunContext&) { return true; }

}  // namespace romwright
