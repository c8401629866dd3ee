// A fresh directory below the system's temporary directory, removed with
// everything in it when the object goes.
#pragma once

#include <cstdint>
#include <string>

namespace testsupport {

class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  // The directory's path, without a trailing separator.
  const std::string& path() const { return path_; }
  // path() + "/" + name
  std::string Join(const std::string& name) const;

 private:
  std::string path_;
};

// Whole contents of a file ("" when it cannot be read).
std::string ReadFileBytes(const std::string& path);
bool WriteFileBytes(const std::string& path, const std::string& bytes);
// Writes `bytes` and gives the file the modification time `unixTime`, as a
// broken transfer of a file of that time leaves its temporary file.
bool WriteStampedFile(const std::string& path, const std::string& bytes, std::int64_t unixTime);

}  // namespace testsupport
