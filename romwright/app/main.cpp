#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/backend.h"
#include "romwright/app/run.h"

int main(int argc, char** argv) {
  // A file size limit or a reader that goes away must show up as a failed
  // write, reported and cleaned up, not as a killed process that leaves a
  // half-written temporary file behind.
  std::signal(SIGXFSZ, SIG_IGN);
  std::signal(SIGPIPE, SIG_IGN);
  std::vector<std::string> args(argv, argv + argc);
  int status = romwright::runRomwright(args, platform::chooseBackend);
  std::fflush(stdout);
  return status;
}
