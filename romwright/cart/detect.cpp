#include "romwright/cart/detect.h"

#include <cstring>
#include <vector>

#include "cartlink/cartlink.h"

namespace romwright {
namespace {

// A LoROM board ignores address line 15 in bank 0x40, so the lower half of
// the bank shows the upper one again (A = B), or the board answers the same
// block everywhere (A = C). A HiROM board shows 64 KB of different ROM there:
// A holds the end of the LoROM header area's 32 KB, B the HiROM one's.
constexpr cartlink::BusAddress kBlockA = 0x407C00;
constexpr cartlink::BusAddress kBlockB = 0x40FC00;
constexpr cartlink::BusAddress kBlockC = 0x400000;

}  // namespace

bool detectMapMode(CartSession& session) {
  cartlink::DeviceLink& link = *session.link;
  cartlink::ByteStream out;
  cartlink::appendControl(out, 0x01);
  cartlink::appendReadBlock(out, kBlockA);
  cartlink::appendReadBlock(out, kBlockB);
  cartlink::appendReadBlock(out, kBlockC);
  cartlink::appendControl(out, 0x00);
  cartlink::send(link, out);

  std::vector<std::uint8_t> a(cartlink::kBlockSize), b(cartlink::kBlockSize),
      c(cartlink::kBlockSize);
  cartlink::receive(link, a.data(), a.size());
  cartlink::receive(link, b.data(), b.size());
  cartlink::receive(link, c.data(), c.size());
  if (link.ioFailed) return false;

  bool loRom = std::memcmp(a.data(), b.data(), a.size()) == 0 ||
               std::memcmp(a.data(), c.data(), a.size()) == 0;
  session.isHiRom = loRom ? 0 : 1;
  return true;
}

}  // namespace romwright
