#include <cstdio>
#include <string>
#include <vector>

#include "virtual_programmer/cartsim.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv, argv + argc);
  int status = vprog::runCartsim(args, stdout, stderr);
  if (std::fflush(stdout) != 0 && status == vprog::kCartsimOk) status = vprog::kCartsimFailed;
  return status;
}
