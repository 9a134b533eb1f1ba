#include <gtest/gtest.h>

#include <cstdio>
#include <numeric>

#include "cartlink/cartlink.h"
#include "platform/testing/recording_driver.h"

namespace cartlink {
namespace {

using platform::testing::bytesOf;
using platform::testing::CallKind;
using platform::testing::callsOf;
using platform::testing::RecordingDriver;
using platform::testing::ScriptedFault;
using platform::testing::writeSizes;
using platform::testing::writtenStream;

// A fresh fake device and link, for table cases that each need their own.
struct LinkRig {
  RecordingDriver fake;
  platform::testing::ManualClock time;
  platform::Driver driver = platform::testing::recordingDriver(fake);
  platform::Clock clock = platform::testing::manualClock(time);
  DeviceLink link = makeDeviceLink(driver, clock);
};

struct LinkFixture : ::testing::Test {
  RecordingDriver fake;
  platform::testing::ManualClock time;
  platform::Driver driver = platform::testing::recordingDriver(fake);
  platform::Clock clock = platform::testing::manualClock(time);
  DeviceLink link = makeDeviceLink(driver, clock);

  void SetUp() override { fake.clock = &time; }
  void openLink() {
    ASSERT_TRUE(open(link, kDeviceDescription));
    fake.calls.clear();
  }
};

TEST_F(LinkFixture, OpensByDescription) {
  ASSERT_TRUE(open(link, "USB ROMWRIGHT"));
  ASSERT_EQ(fake.calls.size(), 1u);
  EXPECT_EQ(fake.calls[0].description, "USB ROMWRIGHT");
  close(link);
  EXPECT_EQ(callsOf(fake, CallKind::Close).size(), 1u);
  EXPECT_EQ(link.handle, nullptr);
}

TEST_F(LinkFixture, FailedOpenSendsNothingAndClosesNothing) {
  fake.faults.push_back({CallKind::Open, 0, platform::kFtDeviceNotFound, 0});
  EXPECT_FALSE(open(link, kDeviceDescription));
  close(link);
  EXPECT_EQ(fake.calls.size(), 1u);
  EXPECT_EQ(fake.calls[0].kind, CallKind::Open);
}

TEST_F(LinkFixture, ReadBlocksSendsEachCommandThenReceivesOnce) {
  openLink();
  fake.replies.resize(32 * kBlockSize);
  std::iota(fake.replies.begin(), fake.replies.end(), 0);
  std::vector<std::uint8_t> chunk(kChunkSize);
  readBlocks(link, 0x018000, 32, chunk.data());

  auto writes = callsOf(fake, CallKind::Write);
  ASSERT_EQ(writes.size(), 32u);
  EXPECT_EQ(writes[0].bytes, bytesOf({0x52, 0x00, 0x80, 0x01}));
  EXPECT_EQ(writes[1].bytes, bytesOf({0x52, 0x00, 0x84, 0x01}));
  EXPECT_EQ(writes[31].bytes, bytesOf({0x52, 0x00, 0xFC, 0x01}));
  auto reads = callsOf(fake, CallKind::Read);
  ASSERT_EQ(reads.size(), 1u);
  EXPECT_EQ(reads[0].asked, 32768u);
  EXPECT_EQ(fake.calls.back().kind, CallKind::Read);
  EXPECT_EQ(chunk[1025], 1);  // the first 1024 bytes answer the first command
  EXPECT_FALSE(link.ioFailed);
}

TEST_F(LinkFixture, ReadBlockListFollowsTheListOrder) {
  openLink();
  fake.replies.resize(2 * kBlockSize);
  const BusAddress list[2] = {0x00FC00, 0x400000};
  std::vector<std::uint8_t> out(2 * kBlockSize);
  readBlockList(link, list, 2, out.data());
  EXPECT_EQ(writtenStream(fake), bytesOf({0x52, 0x00, 0xFC, 0x00, 0x52, 0x00, 0x00, 0x40}));
  EXPECT_EQ(writeSizes(fake), (std::vector<platform::Dword>{4, 4}));
  EXPECT_EQ(callsOf(fake, CallKind::Read)[0].asked, 2048u);
}

TEST_F(LinkFixture, BlockWritesAreHeadThenData) {
  openLink();
  std::vector<std::uint8_t> data(kBlockSize, 0xA5);
  writeBlock(link, 0x700400, data.data());
  flashBlock(link, 0x058400, data.data());
  EXPECT_EQ(writeSizes(fake), (std::vector<platform::Dword>{4, 1024, 4, 1024}));
  auto writes = callsOf(fake, CallKind::Write);
  EXPECT_EQ(writes[0].bytes, bytesOf({0x57, 0x00, 0x04, 0x70}));
  EXPECT_EQ(writes[2].bytes, bytesOf({0x46, 0x00, 0x84, 0x05}));
  EXPECT_EQ(writes[3].bytes, data);
  // The flash status is collected later with its batch, not per block.
  EXPECT_TRUE(callsOf(fake, CallKind::Read).empty());
}

TEST_F(LinkFixture, SingleCommandOperations) {
  openLink();
  fake.replies = {0xC8, 0x01};
  EXPECT_EQ(readByte(link, 0x008000), 0xC8);
  EXPECT_EQ(readStatus(link), 0x01);
  writeByte(link, 0x008AAA, 0xAA);
  setControl(link, 0x01);
  const WriteCycle cycles[3] = {{0x008AAA, 0xAA}, {0x008555, 0x55}, {0x008AAA, 0xA0}};
  setProgramSequence(link, cycles);
  EXPECT_EQ(writeSizes(fake), (std::vector<platform::Dword>{4, 1, 5, 2, 13}));
  EXPECT_FALSE(link.ioFailed);
}

TEST_F(LinkFixture, CopyToolPowerPausesWhateverTheWriteReturned) {
  openLink();
  fake.faults.push_back({CallKind::Write, 0, platform::kFtIoError, 0});
  setPower(link, 0x01);
  setPower(link, 0x00);
  EXPECT_EQ(time.pauses, (std::vector<std::uint32_t>{400, 400}));
  ASSERT_EQ(writeSizes(fake), (std::vector<platform::Dword>{0, 2}));
  EXPECT_EQ(callsOf(fake, CallKind::Write)[1].bytes, bytesOf({0x50, 0x00}));
}

// After a failed transfer the copy tool's power-off still reaches the board.
TEST_F(LinkFixture, CopyToolPowerOffGoesOutAfterAnIoFailure) {
  openLink();
  fake.faults.push_back({CallKind::Read, 0, platform::kFtOk, 0});
  std::vector<std::uint8_t> block(kBlockSize);
  readBlock(link, 0x00FC00, block.data());
  ASSERT_TRUE(link.ioFailed);
  setPower(link, 0x00);
  EXPECT_EQ(callsOf(fake, CallKind::Write).back().bytes, bytesOf({0x50, 0x00}));
}

// The power-on pause only follows a write that went through.
TEST_F(LinkFixture, PowerOnPauseRule) {
  const struct {
    const char* what;
    bool fault;
    platform::FtStatus status;
    platform::Dword done;
    std::vector<std::uint32_t> pauses;
  } cases[] = {
      {"write went through", false, 0, 0, {400}},
      {"write failed", true, platform::kFtIoError, 2, {}},
      {"nothing written", true, platform::kFtOk, 0, {}},
  };
  for (const auto& c : cases) {
    LinkRig rig;
    RecordingDriver& d = rig.fake;
    platform::testing::ManualClock& t = rig.time;
    DeviceLink& l = rig.link;
    ASSERT_TRUE(open(l, kDeviceDescription));
    if (c.fault) d.faults.push_back({CallKind::Write, 0, c.status, c.done});
    powerOn(l);
    auto writes = callsOf(d, CallKind::Write);
    ASSERT_EQ(writes.size(), 1u) << c.what;
    EXPECT_EQ(writes[0].asked, 2u) << c.what;
    if (!c.fault) {
      EXPECT_EQ(writes[0].bytes, bytesOf({0x50, 0x01}));
    }
    EXPECT_EQ(t.pauses, c.pauses) << c.what;
    EXPECT_FALSE(l.ioFailed) << c.what;  // power writes never count as I/O failures
  }
}

TEST_F(LinkFixture, PowerOffIsOneFourByteWriteBetweenPauses) {
  openLink();
  powerOff(link);
  auto writes = callsOf(fake, CallKind::Write);
  ASSERT_EQ(writes.size(), 1u);
  EXPECT_EQ(writes[0].bytes, bytesOf({0x43, 0x00, 0x50, 0x00}));
  EXPECT_EQ(writes[0].atMs, 200u);
  EXPECT_EQ(time.pauses, (std::vector<std::uint32_t>{200, 200}));
  EXPECT_EQ(fake.calls.back().kind, CallKind::Close);
}

TEST_F(LinkFixture, PowerOffSkipsItsSecondPauseWhenTheWriteFails) {
  openLink();
  fake.faults.push_back({CallKind::Write, 0, platform::kFtIoError, 0});
  powerOff(link);
  EXPECT_EQ(time.pauses, (std::vector<std::uint32_t>{200}));
  EXPECT_EQ(fake.calls.back().kind, CallKind::Close);
}

TEST_F(LinkFixture, ForcedPowerOffFlushesWithZerosAndNeverPowersOn) {
  openLink();
  ::testing::internal::CaptureStdout();
  forcePowerOff(link);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Power Off\n");

  auto sizes = writeSizes(fake);
  ASSERT_EQ(sizes.size(), 33u);
  for (int i = 0; i < 32; ++i) EXPECT_EQ(sizes[i], 32u);
  auto stream = writtenStream(fake);
  EXPECT_EQ(std::vector<std::uint8_t>(stream.begin(), stream.begin() + 1024),
            std::vector<std::uint8_t>(1024, 0));
  EXPECT_EQ(callsOf(fake, CallKind::Write).back().bytes, bytesOf({0x43, 0x00, 0x50, 0x00}));
  EXPECT_EQ(time.pauses, (std::vector<std::uint32_t>{200, 200}));
  EXPECT_EQ(fake.calls.back().kind, CallKind::Close);
}

// A short or failed transfer marks the link, and nothing more reaches the device.
TEST_F(LinkFixture, FailedTransfersAreStickyIoFailures) {
  const struct {
    const char* what;
    ScriptedFault fault;
  } cases[] = {
      {"failed write", {CallKind::Write, 3, platform::kFtIoError, 0}},
      {"short write", {CallKind::Write, 3, platform::kFtOk, 2}},
      {"failed read", {CallKind::Read, 0, platform::kFtIoError, 32768}},
      {"short read", {CallKind::Read, 0, platform::kFtOk, 1000}},
  };
  for (const auto& c : cases) {
    LinkRig rig;
    RecordingDriver& d = rig.fake;
    DeviceLink& l = rig.link;
    ASSERT_TRUE(open(l, kDeviceDescription));
    d.replies.resize(2 * kChunkSize);
    d.faults.push_back(c.fault);
    std::vector<std::uint8_t> chunk(kChunkSize);
    readBlocks(l, 0x008000, 32, chunk.data());
    EXPECT_TRUE(l.ioFailed) << c.what;
    std::size_t callsBefore = d.calls.size();
    readBlocks(l, 0x018000, 32, chunk.data());
    setControl(l, 0x00);
    EXPECT_EQ(d.calls.size(), callsBefore) << c.what;
    // The power-off still goes out.
    powerOff(l);
    EXPECT_EQ(callsOf(d, CallKind::Write).back().bytes, bytesOf({0x43, 0x00, 0x50, 0x00}))
        << c.what;
    EXPECT_EQ(d.calls.back().kind, CallKind::Close) << c.what;
  }
}

}  // namespace
}  // namespace cartlink
