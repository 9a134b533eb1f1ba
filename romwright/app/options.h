// The flash tool's command line.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace romwright {

struct RunOptions {
  std::optional<std::string> romReadPath;     // -rf
  std::optional<std::string> flashWritePath;  // -wf
  std::optional<std::string> sramReadPath;    // -rs
  std::optional<std::string> sramWritePath;   // -ws
  bool showSettings = false;                  // -re
  bool updateSettings = false;                // -we, and every -wf
  bool autoDetect = true;                     // cleared by any manual setting
  bool hiRom = false;                         // -h / -l
  int sramKb = 0;                             // -s2 / -s8 / -s32
  bool mirror = false;                        // -m
  int readBackKb = 0;                         // -k, 0..4096; 0 finds the size
  bool powerOffOnly = false;                  // -x
  bool wipe = false;                          // -y, not in the help text
  bool showHelp = true;                       // cleared by the first work option
};

inline constexpr int kMaxReadBackKb = 4096;

// Parses the argument list (its first element, the program name, is skipped).
// Never fails and prints nothing; tokens that are no option are skipped.
RunOptions parseRunOptions(const std::vector<std::string>& args);

// The -k number: leading white space, an optional sign, then digits up to the
// first non-digit; no digits give 0. Limited to 0..4096.
int parseReadBackKb(const std::string& text);

extern const char* const kHelpText;

}  // namespace romwright
