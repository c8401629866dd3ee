// Win32 implementation of the install transaction's file calls. Moves are
// written through; file data is flushed per file (FlushFileBuffers), since
// the system offers no flush of a whole volume to an ordinary user.
#include "platform/install_files.h"

#include <string>

#include "platform/win32/unique_handle.h"
#include "platform/win32/wide_text.h"
#include "platform/win32/windows_api.h"

namespace platform {
namespace {

constexpr DWORD kSettableAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                      FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;

// Closes a FindFirstFileA search.
class FindHandle {
 public:
  explicit FindHandle(HANDLE h) : h_(h) {}
  ~FindHandle() {
    if (h_ != INVALID_HANDLE_VALUE) FindClose(h_);
  }
  FindHandle(const FindHandle&) = delete;
  FindHandle& operator=(const FindHandle&) = delete;
  HANDLE get() const { return h_; }

 private:
  HANDLE h_;
};

}  // namespace

std::optional<EntryStatus> GetEntryStatus(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return std::nullopt;
  EntryStatus status;
  status.attributes = attributes;
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    status.kind = EntryKind::kLink;
  } else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    status.kind = EntryKind::kDirectory;
  } else {
    status.kind = EntryKind::kFile;
  }
  return status;
}

File CreateNewFile(const std::string& path, std::uint32_t attributes, std::uint32_t) {
  DWORD flags = attributes & kSettableAttributes;
  if (flags == 0) flags = FILE_ATTRIBUTE_NORMAL;
  // CREATE_NEW fails for anything at the path; the handle stays writable
  // when the new file is read-only.
  const HANDLE handle =
      CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, flags, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return File();
  return File::Adopt(reinterpret_cast<std::intptr_t>(handle));
}

bool SetPermissions(File& file, std::uint32_t) { return file.IsOpen(); }

bool MoveEntry(const std::string& from, const std::string& to, bool replace) {
  DWORD flags = MOVEFILE_WRITE_THROUGH;
  if (replace) flags |= MOVEFILE_REPLACE_EXISTING;
  return MoveFileExA(from.c_str(), to.c_str(), flags) != FALSE;
}

bool CanSyncFileSystem() { return false; }

bool SyncFileSystem(const std::string&) { return false; }

void StartWriteback(File&) {}

bool SyncDirectory(const std::string&) { return true; }

bool CreateSymbolicLink(const std::string&, const std::string&) { return false; }

bool RemoveDirectory(const std::string& path) { return RemoveDirectoryA(path.c_str()) != FALSE; }

bool RemoveEntry(const std::string& path) {
  if (DeleteFileA(path.c_str())) return true;
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_READONLY) == 0) {
    return false;
  }
  SetFileAttributesA(path.c_str(), (attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY)) |
                                       FILE_ATTRIBUTE_NORMAL);
  return DeleteFileA(path.c_str()) != FALSE;
}

std::optional<std::vector<std::string>> ListDirectory(const std::string& path) {
  WIN32_FIND_DATAA data;
  const FindHandle search(FindFirstFileA((path + "\\*").c_str(), &data));
  if (search.get() == INVALID_HANDLE_VALUE) {
    if (GetLastError() == ERROR_FILE_NOT_FOUND) return std::vector<std::string>();
    return std::nullopt;
  }
  std::vector<std::string> names;
  do {
    const std::string name(data.cFileName);
    if (name != "." && name != "..") names.push_back(name);
  } while (FindNextFileA(search.get(), &data));
  return names;
}

std::optional<std::uint64_t> FreeDiskSpace(const std::string& directory) {
  ULARGE_INTEGER available{};
  if (!GetDiskFreeSpaceExA(directory.c_str(), &available, nullptr, nullptr)) return std::nullopt;
  return available.QuadPart;
}

bool CanWriteIn(const std::string& directory) {
  // Access rights alone do not tell (inherited ACLs, read-only media): a
  // file of our own that goes again when its handle closes does.
  const std::string probe =
      directory + "update." + std::to_string(GetCurrentProcessId()) + ".probe";
  const win32::UniqueHandle handle(CreateFileA(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                               FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE,
                                               nullptr));
  return static_cast<bool>(handle);
}

bool SameFile(const std::string& a, const std::string& b) {
  const auto identity = [](const std::string& path, BY_HANDLE_FILE_INFORMATION& info) {
    const win32::UniqueHandle handle(
        CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return handle && GetFileInformationByHandle(handle.get(), &info) != FALSE;
  };
  BY_HANDLE_FILE_INFORMATION first;
  BY_HANDLE_FILE_INFORMATION second;
  return identity(a, first) && identity(b, second) &&
         first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
         first.nFileIndexHigh == second.nFileIndexHigh &&
         first.nFileIndexLow == second.nFileIndexLow;
}

std::string TemporaryDirectory() {
  const std::optional<std::wstring> wide =
      win32::ReadWholeText([](wchar_t* buffer, DWORD size) { return GetTempPathW(size, buffer); });
  std::string path = wide ? win32::Narrow(*wide).value_or(std::string()) : std::string();
  if (path.empty()) return {};
  if (path.back() != '\\' && path.back() != '/') path += '\\';
  return path;
}

}  // namespace platform
