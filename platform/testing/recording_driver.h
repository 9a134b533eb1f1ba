// A driver that records every call with its bytes and plays scripted replies
// and failures, and a clock that only moves when told. Tests use them to check
// the exact device traffic of an operation.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/driver.h"

namespace platform::testing {

enum class CallKind { Open, Write, Read, Close };

struct RecordedCall {
  CallKind kind = CallKind::Open;
  std::vector<std::uint8_t> bytes;  // written bytes, or the bytes a read handed out
  Dword asked = 0;                  // count asked for by a write or read
  std::string description;          // the open's description text
  std::uint64_t atMs = 0;           // clock reading when the call was made
};

// One scripted failure: the n-th call (0-based) of its kind answers with this
// status and transfer count instead of doing its work.
struct ScriptedFault {
  CallKind kind = CallKind::Open;
  int occurrence;
  FtStatus status;
  Dword done;
};

struct ManualClock {
  std::uint64_t nowMs = 0;
  std::vector<std::uint32_t> pauses;
};

struct RecordingDriver {
  std::vector<RecordedCall> calls;
  std::deque<std::uint8_t> replies;  // served to reads in order; a read past the end is short
  std::vector<ScriptedFault> faults;
  // Called after every successful write, e.g. to queue the replies a device
  // would give to the written commands.
  std::function<void(RecordingDriver&, const std::vector<std::uint8_t>&)> onWrite;
  const ManualClock* clock = nullptr;  // stamps calls when set
  int counts[4] = {0, 0, 0, 0};        // calls made so far, by kind
};

Driver recordingDriver(RecordingDriver& driver);
Clock manualClock(ManualClock& clock);

// The calls of one kind, in order.
std::vector<RecordedCall> callsOf(const RecordingDriver& driver, CallKind kind);
// Every written byte, in order, ignoring how the writes cut the stream.
std::vector<std::uint8_t> writtenStream(const RecordingDriver& driver);
// The sizes of the writes, in order.
std::vector<Dword> writeSizes(const RecordingDriver& driver);

std::vector<std::uint8_t> bytesOf(std::initializer_list<int> values);

}  // namespace platform::testing
