#include <cstdio>
#include <vector>

#include "cartlink/cartlink.h"

namespace cartlink {
namespace {

// Power-up settles the cartridge before the first bus access; the power-off
// pauses let a pending command finish and the slot's supply drain.
constexpr std::uint32_t kPowerOnSettleMs = 400;
constexpr std::uint32_t kPowerOffLeadMs = 200;
constexpr std::uint32_t kPowerOffSettleMs = 200;
constexpr std::size_t kResyncWrites = 32;
constexpr std::size_t kResyncWriteSize = 32;

// A write straight to the driver, for the power sequences, whose results only
// decide whether to pause.
TransferResult rawSend(DeviceLink& link, const std::uint8_t* bytes, std::size_t count) {
  platform::Dword written = 0;
  if (link.handle == nullptr) return {platform::kFtIoError, 0};
  platform::FtStatus status =
      link.driver->write(link.driver->state, link.handle, const_cast<std::uint8_t*>(bytes),
                         static_cast<platform::Dword>(count), &written);
  return {status, written};
}

bool wentThrough(const TransferResult& result) {
  return result.status == platform::kFtOk && result.done != 0;
}

void sendPowerOffWrite(DeviceLink& link) {
  const std::uint8_t off[4] = {CMD_CONTROL, 0x00, CMD_POWER, 0x00};
  if (wentThrough(rawSend(link, off, sizeof off))) pauseMs(link, kPowerOffSettleMs);
  close(link);
}

}  // namespace

DeviceLink makeDeviceLink(const platform::Driver& driver, const platform::Clock& clock) {
  DeviceLink link;
  link.driver = &driver;
  link.clock = &clock;
  return link;
}

bool open(DeviceLink& link, const char* description) {
  platform::FtHandle handle = nullptr;
  // The driver takes the description through a void pointer and does not write it.
  platform::FtStatus status = link.driver->openEx(
      link.driver->state, const_cast<char*>(description), platform::kOpenByDescription, &handle);
  if (status != platform::kFtOk) return false;
  link.handle = handle;
  link.ioFailed = false;
  return true;
}

void close(DeviceLink& link) {
  if (link.handle == nullptr) return;
  link.driver->close(link.driver->state, link.handle);
  link.handle = nullptr;
}

TransferResult send(DeviceLink& link, const std::uint8_t* bytes, std::size_t count) {
  if (link.ioFailed || link.handle == nullptr) {
    link.ioFailed = true;
    return {platform::kFtIoError, 0};
  }
  TransferResult result = rawSend(link, bytes, count);
  if (result.status != platform::kFtOk || result.done != count) link.ioFailed = true;
  return result;
}

TransferResult send(DeviceLink& link, const ByteStream& bytes) {
  return send(link, bytes.data(), bytes.size());
}

TransferResult receive(DeviceLink& link, std::uint8_t* buffer, std::size_t count) {
  if (link.ioFailed || link.handle == nullptr) {
    link.ioFailed = true;
    return {platform::kFtIoError, 0};
  }
  platform::Dword received = 0;
  platform::FtStatus status = link.driver->read(link.driver->state, link.handle, buffer,
                                                static_cast<platform::Dword>(count), &received);
  if (status != platform::kFtOk || received != count) link.ioFailed = true;
  return {status, received};
}

void pauseMs(DeviceLink& link, std::uint32_t ms) { link.clock->pauseMs(link.clock->state, ms); }

std::uint64_t ticksMs(DeviceLink& link) { return link.clock->ticksMs(link.clock->state); }

void setControl(DeviceLink& link, std::uint8_t value) {
  ByteStream out;
  appendControl(out, value);
  send(link, out);
}

void setPower(DeviceLink& link, std::uint8_t value) {
  // A power write is never refused after a failed transfer, so the slot is
  // switched off at the end of every run that opened the board.
  ByteStream out;
  appendPower(out, value);
  rawSend(link, out.data(), out.size());
  pauseMs(link, kPowerOnSettleMs);
}

void readBlock(DeviceLink& link, BusAddress address, std::uint8_t* destination) {
  ByteStream out;
  appendReadBlock(out, address);
  send(link, out);
  receive(link, destination, kBlockSize);
}

void readBlocks(DeviceLink& link, BusAddress address, std::size_t count, std::uint8_t* destination) {
  for (std::size_t i = 0; i < count; ++i) {
    ByteStream out;
    appendReadBlock(out, address + static_cast<BusAddress>(i * kBlockSize));
    send(link, out);
  }
  receive(link, destination, count * kBlockSize);
}

void readBlockList(DeviceLink& link, const BusAddress* addresses, std::size_t count,
                   std::uint8_t* destination) {
  for (std::size_t i = 0; i < count; ++i) {
    ByteStream out;
    appendReadBlock(out, addresses[i]);
    send(link, out);
  }
  receive(link, destination, count * kBlockSize);
}

std::uint8_t readByte(DeviceLink& link, BusAddress address) {
  ByteStream out;
  appendReadByte(out, address);
  send(link, out);
  std::uint8_t value = 0;
  receive(link, &value, 1);
  return value;
}

void writeByte(DeviceLink& link, BusAddress address, std::uint8_t value) {
  ByteStream out;
  appendWriteByte(out, address, value);
  send(link, out);
}

void writeBlock(DeviceLink& link, BusAddress address, const std::uint8_t* data) {
  ByteStream head;
  appendBlockHead(head, CMD_WRITE_BLOCK, address);
  send(link, head);
  send(link, data, kBlockSize);
}

void setProgramSequence(DeviceLink& link, const WriteCycle (&cycles)[3]) {
  ByteStream out;
  appendProgramSequence(out, cycles);
  send(link, out);
}

void flashBlock(DeviceLink& link, BusAddress address, const std::uint8_t* data) {
  ByteStream head;
  appendBlockHead(head, CMD_FLASH_BLOCK, address);
  send(link, head);
  send(link, data, kBlockSize);
}

std::uint8_t readStatus(DeviceLink& link) {
  ByteStream out;
  appendStatus(out);
  send(link, out);
  std::uint8_t value = 0;
  receive(link, &value, 1);
  return value;
}

void resync(DeviceLink& link) {
  const std::uint8_t zeros[kResyncWriteSize] = {};
  for (std::size_t i = 0; i < kResyncWrites; ++i) rawSend(link, zeros, sizeof zeros);
}

void powerOn(DeviceLink& link) {
  const std::uint8_t on[2] = {CMD_POWER, 0x01};
  if (wentThrough(rawSend(link, on, sizeof on))) pauseMs(link, kPowerOnSettleMs);
}

void powerOff(DeviceLink& link) {
  pauseMs(link, kPowerOffLeadMs);
  sendPowerOffWrite(link);
}

void forcePowerOff(DeviceLink& link) {
  std::printf("Power Off\n");
  std::fflush(stdout);
  resync(link);
  pauseMs(link, kPowerOffLeadMs);
  sendPowerOffWrite(link);
}

}  // namespace cartlink
