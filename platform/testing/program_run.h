// Runs one of our programs as a child process, the way a user would, and
// collects its output and exit status.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace platform::testing {

struct ProgramRun {
  int status = -1;  // exit status, or -1 when it did not exit normally
  std::string out;
  std::string err;
};

struct ProgramSetup {
  std::string workingDir;                                  // empty: keep the current one
  std::vector<std::pair<std::string, std::string>> set;  // environment variables to set
  std::vector<std::string> unset;                          // and to remove
  long fileSizeLimit = -1;  // bytes a file may grow to (ulimit -f); -1 no limit
};

// argv[0] is the program's path.
ProgramRun runProgram(const std::vector<std::string>& argv, const ProgramSetup& setup = {});

// $CARTRIDGE_BINARY_DIR/bin/<name>: where the build puts the programs.
std::string programPath(const std::string& name);

// A fresh folder under the system's temporary folder, removed with everything
// in it when the record goes.
struct TempDir {
  std::string path;
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  std::string file(const std::string& name) const { return path + "/" + name; }
};

// The names in a folder, sorted.
std::vector<std::string> folderEntries(const std::string& folder);

std::vector<unsigned char> readWholeFile(const std::string& path);
void writeWholeFile(const std::string& path, const std::vector<unsigned char>& bytes);

}  // namespace platform::testing
