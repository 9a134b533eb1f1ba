#include "romwright/app/options.h"

#include <cctype>
#include <cstdint>

namespace romwright {
namespace {

enum class Takes { Nothing, Path, Number };

struct OptionRow {
  const char* text;
  Takes takes;
  bool clearsHelp;
  void (*apply)(RunOptions& options, const std::string& argument);
};

// Compared in this order; a token must equal the text exactly.
const OptionRow kOptionTable[] = {
    {"-rf", Takes::Path, true, [](RunOptions& o, const std::string& a) { o.romReadPath = a; }},
    {"-wf", Takes::Path, true,
     [](RunOptions& o, const std::string& a) {
       o.flashWritePath = a;
       o.updateSettings = true;
     }},
    {"-rs", Takes::Path, true, [](RunOptions& o, const std::string& a) { o.sramReadPath = a; }},
    {"-ws", Takes::Path, true, [](RunOptions& o, const std::string& a) { o.sramWritePath = a; }},
    {"-re", Takes::Nothing, true, [](RunOptions& o, const std::string&) { o.showSettings = true; }},
    {"-we", Takes::Nothing, true,
     [](RunOptions& o, const std::string&) { o.updateSettings = true; }},
    {"-h", Takes::Nothing, false,
     [](RunOptions& o, const std::string&) {
       o.hiRom = true;
       o.autoDetect = false;
     }},
    {"-l", Takes::Nothing, false,
     [](RunOptions& o, const std::string&) {
       o.hiRom = false;
       o.autoDetect = false;
     }},
    {"-s2", Takes::Nothing, false,
     [](RunOptions& o, const std::string&) {
       o.sramKb = 2;
       o.autoDetect = false;
     }},
    {"-s8", Takes::Nothing, false,
     [](RunOptions& o, const std::string&) {
       o.sramKb = 8;
       o.autoDetect = false;
     }},
    {"-s32", Takes::Nothing, false,
     [](RunOptions& o, const std::string&) {
       o.sramKb = 32;
       o.autoDetect = false;
     }},
    {"-m", Takes::Nothing, false, [](RunOptions& o, const std::string&) { o.mirror = true; }},
    {"-k", Takes::Number, false,
     [](RunOptions& o, const std::string& a) { o.readBackKb = parseReadBackKb(a); }},
    {"-x", Takes::Nothing, true, [](RunOptions& o, const std::string&) { o.powerOffOnly = true; }},
    {"-y", Takes::Nothing, true, [](RunOptions& o, const std::string&) { o.wipe = true; }},
};

}  // namespace

int parseReadBackKb(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  // Saturate while accumulating: anything past the limit ends up at the limit.
  std::int64_t value = 0;
  for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > kMaxReadBackKb) value = kMaxReadBackKb + 1;
  }
  if (negative) return 0;
  return value > kMaxReadBackKb ? kMaxReadBackKb : static_cast<int>(value);
}

RunOptions parseRunOptions(const std::vector<std::string>& args) {
  RunOptions options;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& token = args[i];
    for (const OptionRow& row : kOptionTable) {
      if (token != row.text) continue;
      std::string argument;
      if (row.takes != Takes::Nothing) {
        // An option missing its argument ends parsing and has no effect.
        if (i + 1 >= args.size()) return options;
        argument = args[++i];
      }
      row.apply(options, argument);
      if (row.clearsHelp) options.showHelp = false;
      break;
    }
  }
  return options;
}

const char* const kHelpText =
    "Read\\Write Commands:\n"
    "    -re = Display EEPROM settings\n"
    "    -rf [filename] = Reads ROM to file\n"
    "    -wf [filename] = Writes file to flash\n"
    "    -rs [filename] = Reads Save RAM to file\n"
    "    -ws [filename] = Writes file to Save RAM\n"
    "\n"
    "Manual Settings:\n"
    "    -we = Update EEPROM settings\n"
    "    -h = Specifies HIROM\n"
    "    -l = Specifies LOROM\n"
    "    -s2 = Enables 2kB Save RAM\n"
    "    -s8 = Enables 8kB Save RAM\n"
    "    -s32 = Enables 32kB Save RAM\n"
    "    -m = Mirroring, use entire 4MB\n"
    "    -k [size] = How many kB to read back\n"
    "    -x = Power off (in case red light is stuck on)\n"
    "\n"
    "Examples:\n"
    "To read a game ROM and Save RAM with auto detect\n"
    "Be sure to verify the game's checksum after reading\n"
    "    romwright -rf game.bin -rs game.srm\n"
    "\n"
    "To program a flash cartridge with auto detect\n"
    "    romwright -wf game.bin\n"
    "\n"
    "To program a flash cartridge with manual settings\n"
    "    romwright -h -s32 -wf game.bin\n"
    "\n"
    "To fix Save RAM size\n"
    "    romwright -h -s8 -we\n";

}  // namespace romwright
