#include "platform/backend.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/vendor_library.h"
#include "virtual_programmer/virtual_backend.h"

namespace platform {

Backend chooseBackend() {
  Backend backend;
  backend.clock = systemClock();

  const char* cartPath = std::getenv(kVirtualCartVariable);
  if (cartPath != nullptr) {
    std::string error;
    if (vprog::makeVirtualBackend(cartPath, backend, error)) return backend;
    std::fprintf(stderr, "virtual programmer (%s=%s): %s\n", kVirtualCartVariable, cartPath,
                 error.c_str());
    backend.driver = unavailableDriver();
    return backend;
  }

  struct LoadedLibrary {
    VendorLibrary library;
    ~LoadedLibrary() { unloadVendorLibrary(library); }
  };
  auto loaded = std::make_shared<LoadedLibrary>();
  std::string error;
  if (!loadVendorLibrary(loaded->library, kVendorLibraryName, error)) {
    std::fprintf(stderr, "driver: could not load %s (%s); set %s to use a virtual cartridge\n",
                 kVendorLibraryName, error.c_str(), kVirtualCartVariable);
    backend.driver = unavailableDriver();
    return backend;
  }
  backend.driver = vendorDriver(loaded->library);
  backend.owner = loaded;
  return backend;
}

}  // namespace platform
