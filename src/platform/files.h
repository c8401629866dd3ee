// Files and directories. Paths are 8-bit texts in the active code page; on
// Windows both separators work, on POSIX the portable code passes "/" (a
// backslash is an ordinary byte in a POSIX name).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// 100-nanosecond intervals since 1601-01-01 00:00 UTC (the Windows FILETIME).
using FileTime = std::int64_t;
inline constexpr std::int64_t kUnixEpochAsFileTimeSeconds = 0x2B6109100LL;
constexpr FileTime UnixTimeToFileTime(std::int64_t seconds) {
  return (seconds + kUnixEpochAsFileTimeSeconds) * 10000000LL;
}
// Whole seconds, rounded towards minus infinity.
constexpr std::int64_t FileTimeToUnixTime(FileTime t) {
  const std::int64_t s = t / 10000000LL - ((t % 10000000LL) < 0 ? 1 : 0);
  return s - kUnixEpochAsFileTimeSeconds;
}

// Attribute flags with the Windows values; POSIX maps read-only and directory
// and ignores the others.
inline constexpr std::uint32_t kAttrReadOnly = 0x01;
inline constexpr std::uint32_t kAttrHidden = 0x02;
inline constexpr std::uint32_t kAttrSystem = 0x04;
inline constexpr std::uint32_t kAttrDirectory = 0x10;
inline constexpr std::uint32_t kAttrArchive = 0x20;

struct FileStatus {
  std::int64_t size = 0;
  std::uint32_t attributes = 0;
  FileTime creationTime = 0;  // 0 where the system keeps none
  FileTime accessTime = 0;
  FileTime modificationTime = 0;
};

// Status of the file or directory at `path`; nothing when it cannot be read.
std::optional<FileStatus> GetFileStatus(const std::string& path);

// Sets the times that are given; the others keep their values. Creation time
// cannot be set on Linux and is skipped there.
bool SetFileTimes(const std::string& path, const FileTime* creation, const FileTime* access,
                  const FileTime* modification);

bool CreateDirectory(const std::string& path);  // one level
bool DeleteFile(const std::string& path);
// Renames `from` to `to`, replacing `to` in one step when it exists.
bool ReplaceFile(const std::string& from, const std::string& to);
// Sets or clears the read-only attribute (on POSIX: the write bits).
bool SetReadOnly(const std::string& path, bool readOnly);
std::string CurrentDirectory();

// The following calls were added for the archive facade. Each is described by
// what both implementations must do.

// Turns a path whose separators may be "/" or "\\" (as archive item names and
// texts built from them are) into the system's own form. Windows: unchanged,
// both separators already work. POSIX: every backslash that stands on a
// character boundary of the active code page becomes "/", so a GBK trail byte
// 0x5C is left alone.
std::string NativePath(std::string_view path);

// Converts a file time read as local time (a DOS date and time of an archive
// item, for instance) to UTC with the time-zone bias in force now, not the one
// in force at that date. Windows: LocalFileTimeToFileTime. POSIX: the offset
// of the process's time zone (TZ) at the present moment.
FileTime LocalFileTimeToUtc(FileTime local);

// The writing modes and kReadNoLink never open through a link that stands at
// the path's last part (POSIX: O_NOFOLLOW; Windows: a reparse point is
// opened as itself and refused), so a link planted at a temporary name gets
// nowhere.
enum class OpenMode {
  kWriteKeep,       // open or create for writing, never truncate; others may read,
                    // and no other kWriteKeep open succeeds while it is open
  kReadWriteKeep,   // kWriteKeep that may also read back what the file holds
  kCreateTruncate,  // create or truncate for writing, no sharing
  kRead,            // existing file, read only, others may read but not write
  kReadNoLink,      // kRead, where the file must not be reached through a link
};

// An open file, closed by the destructor.
class File {
 public:
  File() = default;
  ~File();
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  static File Open(const std::string& path, OpenMode mode);

  bool IsOpen() const;
  // Bytes written; false unless all of them were.
  bool Write(const void* data, std::size_t size);
  // Bytes read (0 at the end), or -1 on an error.
  std::int64_t Read(void* data, std::size_t size);
  // At `offset`, leaving the file's own offset to the calls above, so that
  // two threads may read and write the same open file at once, each at its
  // own offsets: the bytes read (fewer only where the file ends), or -1 on
  // an error; false unless all bytes were written.
  std::int64_t ReadAt(std::int64_t offset, void* data, std::size_t size);
  bool WriteAt(std::int64_t offset, const void* data, std::size_t size);
  bool SeekToEnd();
  bool Seek(std::int64_t offset);
  // Current offset from the start of the file, or -1 on an error.
  std::int64_t Tell();
  bool Truncate(std::int64_t size);
  bool Flush();  // to the disk
  bool SetTimes(const FileTime* creation, const FileTime* access, const FileTime* modification);
  void Close();

  // For the platform layer's own calls: takes ownership of a system handle (a
  // descriptor on POSIX, a HANDLE on Windows), and shows the one held.
  static File Adopt(std::intptr_t handle) { return File(handle); }
  std::intptr_t NativeHandle() const { return handle_; }

 private:
  explicit File(std::intptr_t handle) : handle_(handle) {}
  std::intptr_t handle_ = -1;
};

}  // namespace platform

namespace platform {

// True when the process's standard error goes to a terminal (a console on
// Windows), so that a progress bar may redraw itself in place.
bool StandardErrorIsTerminal();

}  // namespace platform
