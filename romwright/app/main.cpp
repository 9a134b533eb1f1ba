#include <cstdio>
#include <string>
#include <vector>

#include "platform/backend.h"
#include "romwright/app/run.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv, argv + argc);
  int status = romwright::runRomwright(args, platform::chooseBackend);
  std::fflush(stdout);
  return status;
}
