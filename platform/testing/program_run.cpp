#include "platform/testing/program_run.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace platform::testing {
namespace {

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "cartridge-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) std::abort();
  path = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path, ignored);
}

ProgramRun runProgram(const std::vector<std::string>& argv, const ProgramSetup& setup) {
  // Output goes through files so neither stream can fill a pipe and stall the child.
  TempDir capture;
  std::string outPath = capture.file("stdout");
  std::string errPath = capture.file("stderr");

  pid_t child = fork();
  if (child == 0) {
    int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int none = ::open("/dev/null", O_RDONLY);
    if (out < 0 || err < 0 || none < 0) _exit(126);
    dup2(none, 0);
    dup2(out, 1);
    dup2(err, 2);
    if (!setup.workingDir.empty() && chdir(setup.workingDir.c_str()) != 0) _exit(126);
    if (setup.fileSizeLimit >= 0) {
      rlimit limit{static_cast<rlim_t>(setup.fileSizeLimit), static_cast<rlim_t>(setup.fileSizeLimit)};
      if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(126);
    }
    for (const auto& name : setup.unset) unsetenv(name.c_str());
    for (const auto& [name, value] : setup.set) setenv(name.c_str(), value.c_str(), 1);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  ProgramRun run;
  int wstatus = 0;
  if (child > 0 && waitpid(child, &wstatus, 0) == child && WIFEXITED(wstatus))
    run.status = WEXITSTATUS(wstatus);
  run.out = slurp(outPath);
  run.err = slurp(errPath);
  return run;
}

std::string programPath(const std::string& name) {
  const char* dir = std::getenv("CARTRIDGE_BINARY_DIR");
  return std::string(dir != nullptr ? dir : ".") + "/bin/" + name;
}

std::vector<std::string> folderEntries(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<unsigned char> readWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<unsigned char>(std::istreambuf_iterator<char>(in),
                                    std::istreambuf_iterator<char>());
}

void writeWholeFile(const std::string& path, const std::vector<unsigned char>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace platform::testing
