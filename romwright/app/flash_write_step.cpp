#include "romwright/app/run.h"

namespace romwright {

// Loading and classifying the -wf image arrives with the image loader.
bool loadFlashImage(RunContext&) { return true; }

// Identify, erase, program, verify and clear the save RAM: arrives with the
// flash chip work.
bool flashWriteStep(RunContext&) { return true; }

}  // namespace romwright
