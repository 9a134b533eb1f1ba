#include <gtest/gtest.h>

#include "romwright/app/options.h"

namespace romwright {
namespace {

RunOptions parse(std::vector<std::string> tokens) {
  tokens.insert(tokens.begin(), "romwright");
  return parseRunOptions(tokens);
}

std::string pathOr(const std::optional<std::string>& path) { return path ? *path : "<none>"; }

// The fields a command line decides, flattened so one table row states them all.
struct Expected {
  std::string romRead = "<none>";
  std::string flashWrite = "<none>";
  std::string sramRead = "<none>";
  std::string sramWrite = "<none>";
  bool showSettings = false;
  bool updateSettings = false;
  bool autoDetect = true;
  bool hiRom = false;
  int sramKb = 0;
  bool mirror = false;
  int readBackKb = 0;
  bool powerOffOnly = false;
  bool wipe = false;
  bool showHelp = true;
};

void expectOptions(const RunOptions& o, const Expected& e, const std::string& what) {
  EXPECT_EQ(pathOr(o.romReadPath), e.romRead) << what;
  EXPECT_EQ(pathOr(o.flashWritePath), e.flashWrite) << what;
  EXPECT_EQ(pathOr(o.sramReadPath), e.sramRead) << what;
  EXPECT_EQ(pathOr(o.sramWritePath), e.sramWrite) << what;
  EXPECT_EQ(o.showSettings, e.showSettings) << what;
  EXPECT_EQ(o.updateSettings, e.updateSettings) << what;
  EXPECT_EQ(o.autoDetect, e.autoDetect) << what;
  EXPECT_EQ(o.hiRom, e.hiRom) << what;
  EXPECT_EQ(o.sramKb, e.sramKb) << what;
  EXPECT_EQ(o.mirror, e.mirror) << what;
  EXPECT_EQ(o.readBackKb, e.readBackKb) << what;
  EXPECT_EQ(o.powerOffOnly, e.powerOffOnly) << what;
  EXPECT_EQ(o.wipe, e.wipe) << what;
  EXPECT_EQ(o.showHelp, e.showHelp) << what;
}

TEST(CommandLine, Table) {
  const struct {
    std::vector<std::string> tokens;
    Expected expected;
  } cases[] = {
      {{}, {}},
      {{"-h"}, {.autoDetect = false, .hiRom = true}},
      {{"-h", "-s8"}, {.autoDetect = false, .hiRom = true, .sramKb = 8}},
      {{"-m"}, {.mirror = true}},
      {{"-k", "64"}, {.readBackKb = 64}},
      {{"-rf"}, {}},
      {{"-re", "-rf"}, {.showSettings = true, .showHelp = false}},
      {{"-rf", "-wf"}, {.romRead = "-wf", .showHelp = false}},
      {{"-wf", "game.sfc"},
       {.flashWrite = "game.sfc", .updateSettings = true, .showHelp = false}},
      {{"-h", "-l"}, {.autoDetect = false, .hiRom = false}},
      {{"-s8", "-s2"}, {.autoDetect = false, .sramKb = 2}},
      {{"-s32", "-rs", "a.srm", "-rs", "b.srm"},
       {.sramRead = "b.srm", .autoDetect = false, .sramKb = 32, .showHelp = false}},
      {{"stray.bin"}, {}},
      {{"-RF", "x", "-rfgame.bin", "-s16"}, {}},
      {{"-ws", "save.srm", "-we", "-x", "-y"},
       {.sramWrite = "save.srm",
        .updateSettings = true,
        .powerOffOnly = true,
        .wipe = true,
        .showHelp = false}},
      // An option missing its argument ends parsing; what came before stands.
      {{"-re", "-k"}, {.showSettings = true, .showHelp = false}},
      {{"-x", "-ws"}, {.powerOffOnly = true, .showHelp = false}},
  };
  for (const auto& c : cases) {
    std::string what;
    for (const auto& t : c.tokens) what += t + " ";
    expectOptions(parse(c.tokens), c.expected, "[" + what + "]");
  }
}

TEST(CommandLine, ReadBackNumber) {
  const struct {
    const char* text;
    int value;
  } cases[] = {
      {"64", 64},       {"4096", 4096}, {"4097", 4096}, {"99999999999999999999", 4096},
      {"-5", 0},        {"abc", 0},     {"", 0},        {"12kB", 12},
      {"  \t32", 32},   {"+7", 7},      {"- 7", 0},     {"0", 0},
  };
  for (const auto& c : cases) EXPECT_EQ(parseReadBackKb(c.text), c.value) << '"' << c.text << '"';
  EXPECT_EQ(parse({"-k", "100", "-k", "5000"}).readBackKb, 4096);
}

TEST(CommandLine, HelpTextNamesEveryListedOptionButTheWipe) {
  std::string help = kHelpText;
  for (const char* option : {"-re", "-rf", "-wf", "-rs", "-ws", "-we", "-h ", "-l ", "-s2", "-s8",
                             "-s32", "-m ", "-k ", "-x "})
    EXPECT_NE(help.find(std::string("    ") + option), std::string::npos) << option;
  EXPECT_EQ(help.find("-y"), std::string::npos);
  EXPECT_EQ(help.back(), '\n');
}

}  // namespace
}  // namespace romwright
