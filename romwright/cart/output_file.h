// Output files of the cartridge reads (ROM dump, save RAM) that never cost
// the user an earlier file: a new name or an existing regular file is written
// under a temporary name in the same folder and renamed over the target only
// once every byte is on disk, so a failed read or a full disk leaves the
// earlier file as it was.
//
// A symbolic link to a regular file stands for that file: the file behind the
// link is replaced the same way, in its own folder, and the link stays.
//
// A target that exists and is not a regular file (a device such as /dev/null,
// a FIFO, a directory, a link to one of those or to nothing) is opened and
// written directly and never renamed over or removed: replacing it would
// destroy a device node or a link instead of writing to it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace romwright {

enum class OutputTarget {
  Replace,  // missing, a regular file or a link to one: temporary file, renamed at the end
  Direct,   // anything else that exists: written in place
};

// Decided from the path itself (lstat), before anything is created.
OutputTarget outputTargetOf(const char* path);

struct OutputFile {
  std::string path;      // the name the user gave
  std::string target;    // the file replaced at the end: path, or the file behind a link
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
// False when any of that failed, or when something that is not a regular file
// has taken the target's name meanwhile; the temporary file is removed then
// and whatever has the name is untouched.
bool finishOutputFile(OutputFile& file);
// Closes and removes the temporary file; an earlier file stays as it was.
void abandonOutputFile(OutputFile& file);

}  // namespace romwright
