// Output files of the cartridge reads (ROM dump, save RAM) that never cost
// the user an earlier file: a new name or an existing regular file is written
// under a temporary name in the same folder and renamed over the target only
// once every byte is on disk, so a failed read or a full disk leaves the
// earlier file as it was.
//
// A target that exists and is not a regular file (a device such as /dev/null,
// a FIFO, a directory, a symbolic link) is opened and written directly and
// never renamed over or removed: replacing it would destroy a device node or
// a link instead of writing to it. A symbolic link is written through as it
// is, without looking at what it points to, so a dump to a link lands in the
// link's target in place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace romwright {

enum class OutputTarget {
  Replace,  // missing or a regular file: temporary file, renamed over it at the end
  Direct,   // anything else that exists: written in place
};

// Decided from the path itself (lstat), before anything is created.
OutputTarget outputTargetOf(const char* path);

struct OutputFile {
  std::string path;      // the name the user gave
  std::string tempPath;  // empty when the target is written directly
  int fd = -1;
  bool finished = false;

  OutputFile() = default;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  // An output that was not finished is abandoned: its temporary file goes.
  ~OutputFile();
};

// Creates the temporary file (or opens a direct target, truncating it).
// False when that is not possible; nothing is left behind then.
bool createOutputFile(OutputFile& file, const char* path);
// Every byte or false (a full disk, a file size limit, a device that refuses).
bool writeOutputFile(OutputFile& file, const std::uint8_t* bytes, std::size_t count);
// Flushes to disk, closes and renames the temporary file over the target.
// False when any of that failed; the temporary file is removed then and an
// earlier file of the name is untouched.
bool finishOutputFile(OutputFile& file);
// Closes and removes the temporary file; an earlier file stays as it was.
void abandonOutputFile(OutputFile& file);

}  // namespace romwright
