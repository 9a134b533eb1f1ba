#include "romwright/cart/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace romwright {
namespace {

// Attempts at a free temporary name before giving up; a clash needs another
// process using the same name pattern in the same folder at the same moment.
constexpr int kTempNameAttempts = 100;
// Keeps the temporary name within the file system's name limit for any
// target name that is itself within it.
constexpr std::size_t kTempBaseKeep = 200;

int openTemporary(const std::string& path, std::string& tempPath) {
  std::size_t slash = path.rfind('/');
  std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  if (base.empty()) return -1;
  if (base.size() > kTempBaseKeep) base.resize(kTempBaseKeep);
  static unsigned serial = 0;
  for (int attempt = 0; attempt < kTempNameAttempts; ++attempt) {
    std::string name = folder + "." + base + ".part-" + std::to_string(getpid()) + "-" +
                       std::to_string(serial++);
    int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      tempPath = name;
      return fd;
    }
    if (errno != EEXIST) return -1;
  }
  return -1;
}

}  // namespace

// The regular file a path stands for: the path itself, or the file behind a
// symbolic link. Empty when the path exists and stands for anything else.
// `existing` tells whether there is an earlier file, and `info` describes it.
std::string replaceableTarget(const char* path, bool& existing, struct stat& info) {
  existing = ::lstat(path, &info) == 0;
  if (!existing || S_ISREG(info.st_mode)) return path;
  if (!S_ISLNK(info.st_mode)) return "";
  char* resolved = ::realpath(path, nullptr);
  std::string behind = resolved != nullptr ? resolved : "";
  std::free(resolved);
  if (behind.empty() || ::stat(behind.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return "";
  return behind;
}

OutputTarget outputTargetOf(const char* path) {
  bool existing = false;
  struct stat info {};
  return replaceableTarget(path, existing, info).empty() ? OutputTarget::Direct
                                                          : OutputTarget::Replace;
}

OutputFile::~OutputFile() {
  if (!finished) abandonOutputFile(*this);
}

bool createOutputFile(OutputFile& file, const char* path) {
  file.path = path;
  file.tempPath.clear();
  file.finished = false;
  struct stat earlier {};
  bool hadEarlier = false;
  file.target = replaceableTarget(path, hadEarlier, earlier);
  if (file.target.empty()) {
    file.fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    return file.fd >= 0;
  }
  file.fd = openTemporary(file.target, file.tempPath);
  if (file.fd < 0) return false;
  // The replacement keeps the permissions of the file it replaces; a new file
  // gets the ordinary ones (0666 less the umask, from the open).
  if (hadEarlier && ::fchmod(file.fd, earlier.st_mode & 07777) != 0) {
    // Not worth failing the dump over: the data is what matters.
  }
  return true;
}

bool writeOutputFile(OutputFile& file, const std::uint8_t* bytes, std::size_t count) {
  if (file.fd < 0) return false;
  std::size_t done = 0;
  while (done < count) {
    ssize_t n = ::write(file.fd, bytes + done, count - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool finishOutputFile(OutputFile& file) {
  if (file.fd < 0) return false;
  bool ok = true;
  // A device or FIFO has nothing to sync (fsync fails on them by design).
  if (!file.tempPath.empty() && ::fsync(file.fd) != 0) ok = false;
  if (::close(file.fd) != 0) ok = false;
  file.fd = -1;
  if (ok && !file.tempPath.empty()) {
    // The name was checked when the dump began; should a device or a FIFO
    // have taken it since, it is left alone rather than replaced.
    struct stat now {};
    if (::lstat(file.target.c_str(), &now) == 0 && !S_ISREG(now.st_mode)) ok = false;
    if (ok && std::rename(file.tempPath.c_str(), file.target.c_str()) != 0) ok = false;
  }
  if (!ok) {
    abandonOutputFile(file);
    return false;
  }
  file.tempPath.clear();
  file.finished = true;
  return true;
}

void abandonOutputFile(OutputFile& file) {
  if (file.fd >= 0) ::close(file.fd);
  file.fd = -1;
  if (!file.tempPath.empty()) ::unlink(file.tempPath.c_str());
  file.tempPath.clear();
  file.finished = true;
}

}  // namespace romwright
