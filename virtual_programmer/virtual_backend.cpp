#include "virtual_programmer/virtual_backend.h"

namespace vprog {

bool makeVirtualBackend(const char*, platform::Backend&, std::string& error) {
  error = "the virtual programmer is not built yet";
  return false;
}

}  // namespace vprog
