// cartsim: makes, shows, exports and rigs the virtual cartridge files that
// the programs use in place of a board when CARTLINK_VIRTUAL_CART names one,
// and writes demo ROM images.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace vprog {

inline constexpr int kCartsimOk = 0;
inline constexpr int kCartsimFailed = 1;  // a file could not be read, refused, or not written
inline constexpr int kCartsimUsage = 2;   // the command line is wrong

// Runs one command line; args[0] is the program name. The tool's texts go to
// out, error messages to err. Returns the exit status.
int runCartsim(const std::vector<std::string>& args, std::FILE* out, std::FILE* err);

extern const char* const kCartsimHelp;

// What a never-written static RAM holds in a new virtual cartridge. Real
// SRAM powers up in an indeterminate pattern that differs from cell to cell,
// neither all zeros nor all 0xFF; a fixed pseudo-random pattern stands in for
// it, so runs repeat exactly, a clear to zeros shows, and a save RAM that
// was never written is not taken for a small one that repeats.
std::vector<std::uint8_t> powerUpRam(std::size_t size);

}  // namespace vprog
