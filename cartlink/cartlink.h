// The programmer link: the open connection to the board and one operation per
// command of the protocol, with the slot's power sequences.
//
// A send that fails or writes fewer bytes than asked, and a receive that fails
// or returns fewer bytes than asked, set the link's sticky `ioFailed` flag.
// From then on no operation touches the device (the power writes are the
// exception, so the slot is still switched off), so missing bytes are never
// taken for data; every work step checks the flag when it returns.
#pragma once

#include <cstddef>
#include <cstdint>

#include "cartlink/protocol.h"
#include "platform/clock.h"
#include "platform/driver.h"

namespace cartlink {

// The board answers to this USB description.
inline constexpr const char* kDeviceDescription = "USB ROMWRIGHT";

struct DeviceLink {
  platform::FtHandle handle = nullptr;  // null until an open succeeds
  const platform::Driver* driver = nullptr;
  const platform::Clock* clock = nullptr;
  bool ioFailed = false;
};

struct TransferResult {
  platform::FtStatus status;
  platform::Dword done;
};

DeviceLink makeDeviceLink(const platform::Driver& driver, const platform::Clock& clock);

bool open(DeviceLink& link, const char* description);
void close(DeviceLink& link);
TransferResult send(DeviceLink& link, const std::uint8_t* bytes, std::size_t count);
TransferResult send(DeviceLink& link, const ByteStream& bytes);
TransferResult receive(DeviceLink& link, std::uint8_t* buffer, std::size_t count);

void pauseMs(DeviceLink& link, std::uint32_t ms);
std::uint64_t ticksMs(DeviceLink& link);

void setControl(DeviceLink& link, std::uint8_t value);
// The copy tool's power switch: pauses 400 ms whatever the write returned.
// Like the flash tool's power writes, it goes out even after an I/O failure
// and never sets ioFailed.
void setPower(DeviceLink& link, std::uint8_t value);
void readBlock(DeviceLink& link, BusAddress address, std::uint8_t* destination);
// count blocks from address upwards, each command in its own write, then one
// receive of count x 1024 bytes.
void readBlocks(DeviceLink& link, BusAddress address, std::size_t count, std::uint8_t* destination);
// One block per listed address (at most 32), in list order, one receive.
void readBlockList(DeviceLink& link, const BusAddress* addresses, std::size_t count,
                   std::uint8_t* destination);
std::uint8_t readByte(DeviceLink& link, BusAddress address);
void writeByte(DeviceLink& link, BusAddress address, std::uint8_t value);
void writeBlock(DeviceLink& link, BusAddress address, const std::uint8_t* data);
void setProgramSequence(DeviceLink& link, const WriteCycle (&cycles)[3]);
// The status byte is not read here: the flash batch collects all of them at once.
void flashBlock(DeviceLink& link, BusAddress address, const std::uint8_t* data);
std::uint8_t readStatus(DeviceLink& link);
// 1024 zero bytes in 32 writes: the board passes over zeros where it expects a
// command byte, so whatever half command it holds is completed and dropped.
void resync(DeviceLink& link);

// Slot power of the flash tool. A failed or empty power write skips the pause
// that would follow it; these writes never set ioFailed.
void powerOn(DeviceLink& link);
// Pauses, switches control and power off in one write, pauses, closes.
void powerOff(DeviceLink& link);
// The power-off-only run: "Power Off\n", resync, then powerOff's write and close.
void forcePowerOff(DeviceLink& link);

}  // namespace cartlink
