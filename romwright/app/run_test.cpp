#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/testing/recording_driver.h"
#include "romwright/app/run.h"

namespace romwright {
namespace {

using platform::testing::bytesOf;
using platform::testing::CallKind;
using platform::testing::callsOf;
using platform::testing::RecordingDriver;
using platform::testing::writtenStream;

// What the scripted steps do, and what they saw. Function pointers cannot
// capture, so the steps reach it through this one record.
struct StepScript {
  std::vector<std::string> order;
  bool loadSucceeds = true;
  std::string failingStep;    // this step reports failure
  std::string ioFailingStep;  // this step's transfer comes back short
  std::vector<std::uint8_t> isHiRomSeen;
};
StepScript script;

// Each step also writes its own marker byte, so the device traffic shows where
// the frame's own commands fall between the steps.
bool scripted(const char* name, std::uint8_t marker, RunContext& run) {
  script.order.push_back(name);
  if (run.session != nullptr) {
    script.isHiRomSeen.push_back(run.session->isHiRom);
    cartlink::send(*run.session->link, &marker, 1);
    if (script.ioFailingStep == name) {
      std::uint8_t byte = 0;
      cartlink::receive(*run.session->link, &byte, 1);  // nothing queued: a short read
    }
  }
  return script.failingStep != name;
}

WorkSteps scriptedSteps() {
  return WorkSteps{
      .loadFlashImage =
          [](RunContext& run) {
            script.order.push_back("load");
            if (run.options.flashWritePath && run.options.autoDetect) run.hiRom = true;
            return script.loadSucceeds;
          },
      .settings = [](RunContext& run) { return scripted("settings", 0xE1, run); },
      .romRead = [](RunContext& run) { return scripted("romRead", 0xE2, run); },
      .flashWrite = [](RunContext& run) { return scripted("flashWrite", 0xE3, run); },
      .saveRam = [](RunContext& run) { return scripted("saveRam", 0xE4, run); },
  };
}

struct FrameFixture : ::testing::Test {
  RecordingDriver fake;
  platform::testing::ManualClock time;
  bool backendChosen = false;
  std::string out;

  void SetUp() override { script = StepScript{}; }

  int run(std::vector<std::string> tokens) {
    tokens.insert(tokens.begin(), "romwright");
    auto choose = [this] {
      backendChosen = true;
      platform::Backend backend;
      backend.driver = platform::testing::recordingDriver(fake);
      backend.clock = platform::testing::manualClock(time);
      return backend;
    };
    ::testing::internal::CaptureStdout();
    int status = runRomwright(tokens, choose, scriptedSteps());
    out = ::testing::internal::GetCapturedStdout();
    return status;
  }
};

const std::string kBanner = "romwright 1.0 - SNES flash cartridge programmer\n\n";

TEST_F(FrameFixture, HelpWithoutWorkOptionsNeverTouchesADriver) {
  for (auto tokens : std::vector<std::vector<std::string>>{{}, {"-h", "-s8"}, {"-k", "64"}, {"-rf"}}) {
    backendChosen = false;
    EXPECT_EQ(run(tokens), kExitOk);
    EXPECT_EQ(out, kBanner + kHelpText + "\n");
    EXPECT_FALSE(backendChosen);
  }
  EXPECT_TRUE(fake.calls.empty());
}

TEST_F(FrameFixture, StepsRunInTheirFixedOrderWhateverTheCommandLine) {
  EXPECT_EQ(run({"-rs", "a.srm", "-ws", "b.srm", "-rf", "game.bin", "-re"}), kExitOk);
  EXPECT_EQ(script.order, (std::vector<std::string>{"load", "settings", "romRead", "flashWrite",
                                                     "saveRam"}));
  EXPECT_EQ(out, kBanner);
  // Power on, the settings step, the mode switch, the transfer steps, power off.
  auto writes = callsOf(fake, CallKind::Write);
  ASSERT_EQ(writes.size(), 7u);
  EXPECT_EQ(writes[0].bytes, bytesOf({0x50, 0x01}));
  EXPECT_EQ(writes[1].bytes, bytesOf({0xE1}));
  EXPECT_EQ(writes[2].bytes, bytesOf({0x43, 0x02}));
  EXPECT_EQ(writes[3].bytes, bytesOf({0xE2}));
  EXPECT_EQ(writes[4].bytes, bytesOf({0xE3}));
  EXPECT_EQ(writes[5].bytes, bytesOf({0xE4}));
  EXPECT_EQ(writes[6].bytes, bytesOf({0x43, 0x00, 0x50, 0x00}));
  EXPECT_EQ(time.pauses, (std::vector<std::uint32_t>{400, 200, 200}));
  EXPECT_EQ(fake.calls.front().kind, CallKind::Open);
  EXPECT_EQ(fake.calls.back().kind, CallKind::Close);
}

TEST_F(FrameFixture, SessionTakesTheRunsMapModeAtPowerUp) {
  run({"-h", "-re"});
  EXPECT_EQ(script.isHiRomSeen.front(), 1);
  script = StepScript{};
  run({"-re"});
  EXPECT_EQ(script.isHiRomSeen.front(), 0);
  script = StepScript{};
  run({"-wf", "game.sfc"});  // the scripted load finds a HiROM image
  EXPECT_EQ(script.isHiRomSeen.front(), 1);
}

TEST_F(FrameFixture, ExitStatuses) {
  const struct {
    const char* what;
    std::vector<std::string> tokens;
    bool loadSucceeds;
    const char* failingStep;
    bool openFails;
    int status;
  } cases[] = {
      {"all steps succeed", {"-re"}, true, "", false, kExitOk},
      {"a work step fails", {"-rf", "x.bin"}, true, "romRead", false, kExitStepFailed},
      {"settings fail", {"-we"}, true, "settings", false, kExitStepFailed},
      {"the -wf file does not load", {"-wf", "x.sfc"}, false, "", false, kExitNotStarted},
      {"the programmer cannot be opened", {"-re"}, true, "", true, kExitNotStarted},
  };
  for (const auto& c : cases) {
    script = StepScript{};
    script.loadSucceeds = c.loadSucceeds;
    script.failingStep = c.failingStep;
    fake = RecordingDriver{};
    if (c.openFails) fake.faults.push_back({CallKind::Open, 0, platform::kFtDeviceNotFound, 0});
    EXPECT_EQ(run(c.tokens), c.status) << c.what;
  }
}

// A step that reports failure changes the exit status only: the later steps
// still run and the slot is powered down as usual.
TEST_F(FrameFixture, FailedStepDoesNotStopTheRun) {
  script.failingStep = "settings";
  EXPECT_EQ(run({"-we", "-rf", "game.bin", "-rs", "save.srm"}), kExitStepFailed);
  EXPECT_EQ(script.order, (std::vector<std::string>{"load", "settings", "romRead", "flashWrite",
                                                     "saveRam"}));
  EXPECT_EQ(out, kBanner);
  auto writes = callsOf(fake, CallKind::Write);
  ASSERT_EQ(writes.size(), 7u);
  EXPECT_EQ(writes[2].bytes, bytesOf({0x43, 0x02}));
  EXPECT_EQ(writes.back().bytes, bytesOf({0x43, 0x00, 0x50, 0x00}));
  EXPECT_EQ(fake.calls.back().kind, CallKind::Close);
}

TEST_F(FrameFixture, FailedLoadNeverOpensTheProgrammer) {
  script.loadSucceeds = false;
  EXPECT_EQ(run({"-wf", "missing.sfc", "-rf", "x.bin"}), kExitNotStarted);
  EXPECT_FALSE(backendChosen);
  EXPECT_EQ(script.order, (std::vector<std::string>{"load"}));
  EXPECT_EQ(out, kBanner);
}

TEST_F(FrameFixture, FailedOpenSendsNothing) {
  fake.faults.push_back({CallKind::Open, 0, platform::kFtDeviceNotFound, 0});
  EXPECT_EQ(run({"-wf", "game.sfc"}), kExitNotStarted);
  EXPECT_EQ(out, kBanner + "ERROR: Could not open FTDI device\n");
  EXPECT_EQ(script.order, (std::vector<std::string>{"load"}));
  ASSERT_EQ(fake.calls.size(), 1u);
  EXPECT_EQ(fake.calls[0].kind, CallKind::Open);
}

TEST_F(FrameFixture, PowerOffOnlyRun) {
  EXPECT_EQ(run({"-x", "-wf", "game.sfc", "-rf", "dump.bin"}), kExitOk);
  EXPECT_EQ(out, kBanner + "Power Off\n");
  // The -wf file is still loaded first; no work step runs.
  EXPECT_EQ(script.order, (std::vector<std::string>{"load"}));
  auto stream = writtenStream(fake);
  std::vector<std::uint8_t> expected(1024, 0x00);
  expected.insert(expected.end(), {0x43, 0x00, 0x50, 0x00});
  EXPECT_EQ(stream, expected);
  EXPECT_EQ(callsOf(fake, CallKind::Write).size(), 33u);
  EXPECT_EQ(fake.calls.back().kind, CallKind::Close);
}

TEST_F(FrameFixture, DeviceFailureStopsTheRunAndPowersDown) {
  script.ioFailingStep = "romRead";
  EXPECT_EQ(run({"-rf", "game.bin", "-ws", "save.srm"}), kExitStepFailed);
  EXPECT_EQ(out, kBanner + "ERROR: Device I/O failed\n");
  EXPECT_EQ(script.order, (std::vector<std::string>{"load", "settings", "romRead"}));
  EXPECT_EQ(callsOf(fake, CallKind::Write).back().bytes, bytesOf({0x43, 0x00, 0x50, 0x00}));
  EXPECT_EQ(fake.calls.back().kind, CallKind::Close);
}

}  // namespace
}  // namespace romwright
