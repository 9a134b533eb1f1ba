#include "platform/testing/recording_driver.h"

#include <algorithm>

namespace platform::testing {
namespace {

const ScriptedFault* faultFor(RecordingDriver& d, CallKind kind) {
  int n = d.counts[static_cast<int>(kind)]++;
  for (const auto& f : d.faults)
    if (f.kind == kind && f.occurrence == n) return &f;
  return nullptr;
}

RecordedCall& record(RecordingDriver& d, CallKind kind) {
  RecordedCall call;
  call.kind = kind;
  if (d.clock != nullptr) call.atMs = d.clock->nowMs;
  d.calls.push_back(call);
  return d.calls.back();
}

FtStatus fakeOpen(void* state, void* arg, Dword, FtHandle* handle) {
  auto& d = *static_cast<RecordingDriver*>(state);
  auto& call = record(d, CallKind::Open);
  call.description = static_cast<const char*>(arg);
  if (const auto* f = faultFor(d, CallKind::Open)) return f->status;
  *handle = &d;
  return kFtOk;
}

FtStatus fakeWrite(void* state, FtHandle, void* buffer, Dword count, Dword* written) {
  auto& d = *static_cast<RecordingDriver*>(state);
  auto& call = record(d, CallKind::Write);
  call.asked = count;
  const auto* bytes = static_cast<const std::uint8_t*>(buffer);
  if (const auto* f = faultFor(d, CallKind::Write)) {
    call.bytes.assign(bytes, bytes + std::min(count, f->done));
    *written = f->done;
    return f->status;
  }
  call.bytes.assign(bytes, bytes + count);
  *written = count;
  if (d.onWrite) {
    std::vector<std::uint8_t> copy = call.bytes;  // onWrite may grow d.calls
    d.onWrite(d, copy);
  }
  return kFtOk;
}

FtStatus fakeRead(void* state, FtHandle, void* buffer, Dword count, Dword* received) {
  auto& d = *static_cast<RecordingDriver*>(state);
  auto& call = record(d, CallKind::Read);
  call.asked = count;
  Dword limit = count;
  FtStatus status = kFtOk;
  if (const auto* f = faultFor(d, CallKind::Read)) {
    limit = std::min(count, f->done);
    status = f->status;
  }
  auto* out = static_cast<std::uint8_t*>(buffer);
  const auto n = static_cast<Dword>(std::min<std::size_t>(limit, d.replies.size()));
  std::copy_n(d.replies.begin(), n, out);
  d.replies.erase(d.replies.begin(), d.replies.begin() + n);
  call.bytes.assign(out, out + n);
  *received = n;
  return status;
}

FtStatus fakeClose(void* state, FtHandle) {
  auto& d = *static_cast<RecordingDriver*>(state);
  record(d, CallKind::Close);
  if (const auto* f = faultFor(d, CallKind::Close)) return f->status;
  return kFtOk;
}

std::uint64_t manualTicks(void* state) { return static_cast<ManualClock*>(state)->nowMs; }
void manualPause(void* state, std::uint32_t ms) {
  auto& c = *static_cast<ManualClock*>(state);
  c.pauses.push_back(ms);
  c.nowMs += ms;
}

}  // namespace

Driver recordingDriver(RecordingDriver& driver) {
  return Driver{.name = "recording fake",
                .state = &driver,
                .openEx = fakeOpen,
                .write = fakeWrite,
                .read = fakeRead,
                .close = fakeClose};
}

Clock manualClock(ManualClock& clock) {
  return Clock{.state = &clock, .ticksMs = manualTicks, .pauseMs = manualPause};
}

std::vector<RecordedCall> callsOf(const RecordingDriver& driver, CallKind kind) {
  std::vector<RecordedCall> out;
  for (const auto& c : driver.calls)
    if (c.kind == kind) out.push_back(c);
  return out;
}

std::vector<std::uint8_t> writtenStream(const RecordingDriver& driver) {
  std::vector<std::uint8_t> out;
  for (const auto& c : driver.calls)
    if (c.kind == CallKind::Write) out.insert(out.end(), c.bytes.begin(), c.bytes.end());
  return out;
}

std::vector<Dword> writeSizes(const RecordingDriver& driver) {
  std::vector<Dword> out;
  for (const auto& c : driver.calls)
    if (c.kind == CallKind::Write) out.push_back(static_cast<Dword>(c.bytes.size()));
  return out;
}

std::vector<std::uint8_t> bytesOf(std::initializer_list<int> values) {
  std::vector<std::uint8_t> out;
  for (int v : values) out.push_back(static_cast<std::uint8_t>(v));
  return out;
}

}  // namespace platform::testing
