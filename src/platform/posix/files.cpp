// POSIX implementation of the file layer. Every descriptor is opened with
// O_CLOEXEC so that programs started by the updater inherit none of them.
#include "platform/files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <vector>

#include "platform/text.h"

namespace platform {
namespace {

constexpr mode_t kWriteBits = S_IWUSR | S_IWGRP | S_IWOTH;
constexpr std::int64_t kTicksPerSecond = 10000000;

int Descriptor(std::intptr_t handle) { return static_cast<int>(handle); }

FileTime ToFileTime(const timespec& ts) {
  return UnixTimeToFileTime(static_cast<std::int64_t>(ts.tv_sec)) + ts.tv_nsec / 100;
}

timespec ToTimespec(const FileTime* t) {
  timespec ts{};
  if (t == nullptr) {
    ts.tv_nsec = UTIME_OMIT;
    return ts;
  }
  std::int64_t seconds = *t / kTicksPerSecond;
  std::int64_t ticks = *t % kTicksPerSecond;
  if (ticks < 0) {
    ticks += kTicksPerSecond;
    --seconds;
  }
  ts.tv_sec = static_cast<time_t>(seconds - kUnixEpochAsFileTimeSeconds);
  ts.tv_nsec = static_cast<long>(ticks * 100);
  return ts;
}

int OpenRetrying(const char* path, int flags, mode_t mode) {
  int fd;
  do {
    fd = ::open(path, flags | O_CLOEXEC, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

}  // namespace

std::optional<FileStatus> GetFileStatus(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  FileStatus status;
  status.size = static_cast<std::int64_t>(st.st_size);
  if (S_ISDIR(st.st_mode)) status.attributes |= kAttrDirectory;
  if ((st.st_mode & kWriteBits) == 0) status.attributes |= kAttrReadOnly;
  status.accessTime = ToFileTime(st.st_atim);
  status.modificationTime = ToFileTime(st.st_mtim);
  return status;
}

bool SetFileTimes(const std::string& path, const FileTime* creation, const FileTime* access,
                  const FileTime* modification) {
  (void)creation;  // Linux keeps a birth time but offers no way to set it.
  if (access == nullptr && modification == nullptr) return true;
  const timespec times[2] = {ToTimespec(access), ToTimespec(modification)};
  return ::utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

bool CreateDirectory(const std::string& path) { return ::mkdir(path.c_str(), 0777) == 0; }

bool DeleteFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

bool ReplaceFile(const std::string& from, const std::string& to) {
  return ::rename(from.c_str(), to.c_str()) == 0;
}

bool SetReadOnly(const std::string& path, bool readOnly) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return false;
  const mode_t mode = readOnly ? (st.st_mode & ~kWriteBits) : (st.st_mode | S_IWUSR);
  return ::chmod(path.c_str(), mode & 07777) == 0;
}

std::string CurrentDirectory() {
  std::vector<char> buffer(256);
  for (;;) {
    if (::getcwd(buffer.data(), buffer.size()) != nullptr) return std::string(buffer.data());
    if (errno != ERANGE) return {};
    buffer.resize(buffer.size() * 2);
  }
}

std::string NativePath(std::string_view path) {
  const CodePage codePage = ActiveCodePage();
  std::string native(path);
  for (std::size_t i = 0; i < native.size(); ++i) {
    const auto byte = static_cast<unsigned char>(native[i]);
    if (IsLeadByte(codePage, byte) && i + 1 < native.size()) {
      ++i;  // the trail byte belongs to this character
    } else if (byte == '\\') {
      native[i] = '/';
    }
  }
  return native;
}

FileTime LocalFileTimeToUtc(FileTime local) {
  const time_t now = ::time(nullptr);
  struct tm parts {};
  if (::localtime_r(&now, &parts) == nullptr) return local;
  return local - static_cast<FileTime>(parts.tm_gmtoff) * kTicksPerSecond;
}

File File::Open(const std::string& path, OpenMode mode) {
  int flags = O_RDONLY;
  switch (mode) {
    case OpenMode::kWriteKeep:
      flags = O_WRONLY | O_CREAT | O_NOFOLLOW;
      break;
    case OpenMode::kReadWriteKeep:
      flags = O_RDWR | O_CREAT | O_NOFOLLOW;
      break;
    case OpenMode::kCreateTruncate:
      flags = O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW;
      break;
    case OpenMode::kRead:
      flags = O_RDONLY;
      break;
    case OpenMode::kReadNoLink:
      flags = O_RDONLY | O_NOFOLLOW;
      break;
  }
  const int fd = OpenRetrying(path.c_str(), flags, 0666);
  if (fd < 0) return File();
  // Held exclusively, as Windows' share mode holds it: a second writer of
  // the same file, in this process or another, is refused.
  if ((mode == OpenMode::kWriteKeep || mode == OpenMode::kReadWriteKeep) &&
      ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return File();
  }
  if (mode == OpenMode::kRead || mode == OpenMode::kReadNoLink) {
    // A directory opens for reading on POSIX; the contract is about files.
    struct stat st {};
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
      ::close(fd);
      return File();
    }
  }
  return File(fd);
}

bool File::IsOpen() const { return handle_ >= 0; }

bool File::Write(const void* data, std::size_t size) {
  if (handle_ < 0) return false;
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = ::write(Descriptor(handle_), p, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return false;
    p += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

std::int64_t File::Read(void* data, std::size_t size) {
  if (handle_ < 0) return -1;
  for (;;) {
    const ssize_t n = ::read(Descriptor(handle_), data, size);
    if (n >= 0) return static_cast<std::int64_t>(n);
    if (errno != EINTR) return -1;
  }
}

std::int64_t File::ReadAt(std::int64_t offset, void* data, std::size_t size) {
  if (handle_ < 0 || offset < 0) return -1;
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::pread(Descriptor(handle_), static_cast<char*>(data) + done, size - done,
                              static_cast<off_t>(offset) + static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return static_cast<std::int64_t>(done);
}

bool File::WriteAt(std::int64_t offset, const void* data, std::size_t size) {
  if (handle_ < 0 || offset < 0) return false;
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::pwrite(Descriptor(handle_), static_cast<const char*>(data) + done,
                               size - done, static_cast<off_t>(offset) + static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool File::SeekToEnd() { return handle_ >= 0 && ::lseek(Descriptor(handle_), 0, SEEK_END) >= 0; }

bool File::Seek(std::int64_t offset) {
  return handle_ >= 0 && offset >= 0 &&
         ::lseek(Descriptor(handle_), static_cast<off_t>(offset), SEEK_SET) >= 0;
}

std::int64_t File::Tell() {
  if (handle_ < 0) return -1;
  return static_cast<std::int64_t>(::lseek(Descriptor(handle_), 0, SEEK_CUR));
}

bool File::Truncate(std::int64_t size) {
  return handle_ >= 0 && size >= 0 &&
         ::ftruncate(Descriptor(handle_), static_cast<off_t>(size)) == 0;
}

bool File::Flush() { return handle_ >= 0 && ::fsync(Descriptor(handle_)) == 0; }

bool File::SetTimes(const FileTime* creation, const FileTime* access,
                    const FileTime* modification) {
  (void)creation;  // cannot be set on Linux
  if (handle_ < 0) return false;
  if (access == nullptr && modification == nullptr) return true;
  const timespec times[2] = {ToTimespec(access), ToTimespec(modification)};
  return ::futimens(Descriptor(handle_), times) == 0;
}

void File::Close() {
  if (handle_ >= 0) {
    // Linux releases the descriptor even when close reports EINTR.
    ::close(Descriptor(handle_));
    handle_ = -1;
  }
}

}  // namespace platform
