#include "platform/driver.h"

namespace platform {
namespace {

FtStatus openNothing(void*, void*, Dword, FtHandle*) { return kFtDeviceNotFound; }
FtStatus transferNothing(void*, FtHandle, void*, Dword, Dword* done) {
  if (done != nullptr) *done = 0;
  return kFtIoError;
}
FtStatus closeNothing(void*, FtHandle) { return kFtIoError; }

}  // namespace

Driver unavailableDriver() {
  return Driver{.name = "no driver",
                .state = nullptr,
                .openEx = openNothing,
                .write = transferNothing,
                .read = transferNothing,
                .close = closeNothing};
}

}  // namespace platform
