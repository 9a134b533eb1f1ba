#include "virtual_programmer/virtual_backend.h"

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "virtual_programmer/board.h"
#include "virtual_programmer/cart_file.h"

namespace vprog {
namespace {

// The cartridge and the board in its slot, kept in one place for the
// backend's lifetime: the board and its chips point into the cartridge.
struct VirtualProgrammer {
  std::string cartPath;
  VirtualCart cart;
  Board board;
};

// The cartridge keeps what was written to it: the file is brought up to date
// whenever the host lets go of the device.
void saveOnClose(void* context, Board&) {
  auto& programmer = *static_cast<VirtualProgrammer*>(context);
  std::string error;
  if (!saveCartFile(programmer.cartPath, programmer.cart, error)) {
    std::fprintf(stderr, "virtual programmer: could not save %s: %s\n",
                 programmer.cartPath.c_str(), error.c_str());
  }
}

// The file the cartridge is saved into. A cartridge file reached through a
// symbolic link is saved where the link leads: the link stays, and the file
// behind it is replaced, never the link itself.
std::string savePath(const char* cartPath) {
  char* resolved = ::realpath(cartPath, nullptr);
  if (resolved == nullptr) return cartPath;
  std::string path = resolved;
  std::free(resolved);
  return path;
}

}  // namespace

bool makeVirtualBackend(const char* cartPath, platform::Backend& backend, std::string& error) {
  auto programmer = std::make_shared<VirtualProgrammer>();
  if (!loadCartFile(cartPath, programmer->cart, error)) return false;
  programmer->cartPath = savePath(cartPath);
  attachBoard(programmer->board, programmer->cart);
  programmer->board.onClose = saveOnClose;
  programmer->board.closeContext = programmer.get();

  backend.driver = boardDriver(programmer->board);
  backend.clock = boardClock(programmer->board);
  backend.owner = programmer;
  return true;
}

}  // namespace vprog
