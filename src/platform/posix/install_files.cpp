// POSIX implementation of the install transaction's file calls.
#include "platform/install_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace platform {
namespace {

constexpr mode_t kWriteBits = S_IWUSR | S_IWGRP | S_IWOTH;

// An open descriptor of a directory, closed by the destructor.
class DirectoryDescriptor {
 public:
  explicit DirectoryDescriptor(const std::string& path)
      : fd_(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {}
  ~DirectoryDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  DirectoryDescriptor(const DirectoryDescriptor&) = delete;
  DirectoryDescriptor& operator=(const DirectoryDescriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

}  // namespace

std::optional<EntryStatus> GetEntryStatus(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return std::nullopt;
  EntryStatus status;
  if (S_ISREG(st.st_mode)) {
    status.kind = EntryKind::kFile;
  } else if (S_ISDIR(st.st_mode)) {
    status.kind = EntryKind::kDirectory;
    status.attributes |= kAttrDirectory;
  } else if (S_ISLNK(st.st_mode)) {
    status.kind = EntryKind::kLink;
  }
  if ((st.st_mode & kWriteBits) == 0) status.attributes |= kAttrReadOnly;
  status.permissions = st.st_mode & 07777;
  return status;
}

File CreateNewFile(const std::string& path, std::uint32_t attributes, std::uint32_t permissions) {
  mode_t mode = permissions != 0 ? static_cast<mode_t>(permissions & 07777) : 0666;
  if ((attributes & kAttrReadOnly) != 0) mode &= ~kWriteBits;
  // O_EXCL fails for anything at the path, a dangling link included.
  int fd;
  do {
    fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
  } while (fd < 0 && errno == EINTR);
  return fd < 0 ? File() : File::Adopt(fd);
}

bool SetPermissions(File& file, std::uint32_t permissions) {
  return file.IsOpen() && ::fchmod(static_cast<int>(file.NativeHandle()),
                                   static_cast<mode_t>(permissions & 07777)) == 0;
}

bool MoveEntry(const std::string& from, const std::string& to, bool replace) {
  if (replace) return ::rename(from.c_str(), to.c_str()) == 0;
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // A file system without RENAME_NOREPLACE: a hard link fails when the name
  // is taken (files only; the transaction moves no directories this way).
  if (::link(from.c_str(), to.c_str()) != 0) return false;
  return ::unlink(from.c_str()) == 0;
}

bool CanSyncFileSystem() { return true; }

bool SyncFileSystem(const std::string& directory) {
  const DirectoryDescriptor dir(directory);
  return dir.get() >= 0 && ::syncfs(dir.get()) == 0;
}

void StartWriteback(File& file) {
  if (file.IsOpen()) {
    ::sync_file_range(static_cast<int>(file.NativeHandle()), 0, 0, SYNC_FILE_RANGE_WRITE);
  }
}

bool SyncDirectory(const std::string& directory) {
  const DirectoryDescriptor dir(directory);
  return dir.get() >= 0 && ::fsync(dir.get()) == 0;
}

bool CreateSymbolicLink(const std::string& target, const std::string& path) {
  return ::symlink(target.c_str(), path.c_str()) == 0;
}

bool RemoveDirectory(const std::string& path) { return ::rmdir(path.c_str()) == 0; }

bool RemoveEntry(const std::string& path) { return ::unlink(path.c_str()) == 0; }

std::optional<std::vector<std::string>> ListDirectory(const std::string& path) {
  DIR* dir = ::opendir(path.c_str());
  if (dir == nullptr) return std::nullopt;
  std::vector<std::string> names;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name(entry->d_name);
    if (name != "." && name != "..") names.push_back(name);
  }
  ::closedir(dir);
  return names;
}

std::optional<std::uint64_t> FreeDiskSpace(const std::string& directory) {
  struct statvfs disk {};
  if (::statvfs(directory.c_str(), &disk) != 0) return std::nullopt;
  return static_cast<std::uint64_t>(disk.f_bavail) * disk.f_frsize;
}

bool CanWriteIn(const std::string& directory) {
  return ::access(directory.c_str(), W_OK | X_OK) == 0;
}

bool SameFile(const std::string& a, const std::string& b) {
  struct stat first {};
  struct stat second {};
  return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 &&
         first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

std::string TemporaryDirectory() {
  const char* dir = std::getenv("TMPDIR");
  std::string path = dir != nullptr && *dir == '/' ? dir : "/tmp";
  if (path.back() != '/') path += '/';
  return path;
}

}  // namespace platform
