#include "platform/vendor_library.h"

#include <dlfcn.h>

namespace platform {
namespace {

// dlsym gives a data pointer; the library exports functions of the declared types.
template <typename Fn>
bool resolve(void* module, const char* symbol, Fn& target, std::string& error) {
  void* address = dlsym(module, symbol);
  if (address == nullptr) {
    error = std::string("symbol ") + symbol + " missing";
    return false;
  }
  target = reinterpret_cast<Fn>(address);
  return true;
}

FtStatus vendorOpen(void* state, void* arg, Dword flags, FtHandle* handle) {
  return static_cast<VendorLibrary*>(state)->openEx(arg, flags, handle);
}
FtStatus vendorWrite(void* state, FtHandle handle, void* buffer, Dword count, Dword* written) {
  return static_cast<VendorLibrary*>(state)->write(handle, buffer, count, written);
}
FtStatus vendorRead(void* state, FtHandle handle, void* buffer, Dword count, Dword* received) {
  return static_cast<VendorLibrary*>(state)->read(handle, buffer, count, received);
}
FtStatus vendorClose(void* state, FtHandle handle) {
  return static_cast<VendorLibrary*>(state)->close(handle);
}

}  // namespace

bool loadVendorLibrary(VendorLibrary& library, const char* soname, std::string& error) {
  library = VendorLibrary{};
  void* module = dlopen(soname, RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) {
    const char* why = dlerror();
    error = why != nullptr ? why : "dlopen failed";
    return false;
  }
  VendorLibrary loaded;
  loaded.module = module;
  if (!resolve(module, "FT_OpenEx", loaded.openEx, error) ||
      !resolve(module, "FT_Write", loaded.write, error) ||
      !resolve(module, "FT_Read", loaded.read, error) ||
      !resolve(module, "FT_Close", loaded.close, error)) {
    error = std::string(soname) + ": " + error;
    dlclose(module);
    return false;
  }
  library = loaded;
  return true;
}

void unloadVendorLibrary(VendorLibrary& library) {
  if (library.module != nullptr) dlclose(library.module);
  library = VendorLibrary{};
}

Driver vendorDriver(VendorLibrary& library) {
  return Driver{.name = "vendor library",
                .state = &library,
                .openEx = vendorOpen,
                .write = vendorWrite,
                .read = vendorRead,
                .close = vendorClose};
}

}  // namespace platform
