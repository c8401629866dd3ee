// Win32 implementation of the file layer: the ANSI calls, so paths are texts
// in the system's code page exactly as the portable code builds them.
#include "platform/files.h"

#include "platform/win32/unique_handle.h"
#include "platform/win32/wide_text.h"
#include "platform/win32/windows_api.h"

namespace platform {
namespace {

HANDLE Native(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

FileTime FromFiletime(const FILETIME& t) {
  return static_cast<FileTime>((static_cast<std::uint64_t>(t.dwHighDateTime) << 32) |
                               t.dwLowDateTime);
}

FILETIME ToFiletime(FileTime t) {
  const auto bits = static_cast<std::uint64_t>(t);
  return FILETIME{static_cast<DWORD>(bits & 0xFFFFFFFFu), static_cast<DWORD>(bits >> 32)};
}

// Points at `storage` filled from `t`, or null for a time that is not given.
const FILETIME* OptionalFiletime(const FileTime* t, FILETIME& storage) {
  if (t == nullptr) return nullptr;
  storage = ToFiletime(*t);
  return &storage;
}

bool SetHandleTimes(HANDLE handle, const FileTime* creation, const FileTime* access,
                    const FileTime* modification) {
  FILETIME c, a, m;
  return ::SetFileTime(handle, OptionalFiletime(creation, c), OptionalFiletime(access, a),
                       OptionalFiletime(modification, m)) != FALSE;
}

// Reads or writes `size` bytes from `offset` in pieces a call can take:
// `transfer(done, chunk, at, n)` moves `chunk` bytes at `at` (a synchronous
// handle reads and writes at the offset an OVERLAPPED gives; the system
// serializes such calls on one handle), false on an error. The bytes moved,
// fewer where one moved none (the end of the file), or -1.
template <typename Transfer>
std::int64_t TransferAt(std::int64_t offset, std::size_t size, Transfer transfer) {
  std::size_t done = 0;
  while (done < size) {
    const std::size_t left = size - done;
    const DWORD chunk = left > 0x40000000u ? 0x40000000u : static_cast<DWORD>(left);
    const auto from = static_cast<std::uint64_t>(offset) + done;
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(from & 0xFFFFFFFFu);
    at.OffsetHigh = static_cast<DWORD>(from >> 32);
    DWORD n = 0;
    if (!transfer(done, chunk, at, n)) return -1;
    if (n == 0) break;
    done += n;
  }
  return static_cast<std::int64_t>(done);
}

}  // namespace

std::optional<FileStatus> GetFileStatus(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
  FileStatus status;
  status.size = static_cast<std::int64_t>((static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) |
                                          data.nFileSizeLow);
  status.attributes = data.dwFileAttributes;
  status.creationTime = FromFiletime(data.ftCreationTime);
  status.accessTime = FromFiletime(data.ftLastAccessTime);
  status.modificationTime = FromFiletime(data.ftLastWriteTime);
  return status;
}

bool SetFileTimes(const std::string& path, const FileTime* creation, const FileTime* access,
                  const FileTime* modification) {
  // FILE_FLAG_BACKUP_SEMANTICS lets the same call open a directory.
  win32::UniqueHandle handle(CreateFileA(
      path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!handle) return false;
  return SetHandleTimes(handle.get(), creation, access, modification);
}

bool CreateDirectory(const std::string& path) {
  return CreateDirectoryA(path.c_str(), nullptr) != FALSE;
}

bool DeleteFile(const std::string& path) { return DeleteFileA(path.c_str()) != FALSE; }

bool ReplaceFile(const std::string& from, const std::string& to) {
  return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
}

bool SetReadOnly(const std::string& path, bool readOnly) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  DWORD wanted = readOnly ? (attributes | FILE_ATTRIBUTE_READONLY)
                          : (attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
  // FILE_ATTRIBUTE_NORMAL must stand alone; 0 is not accepted for a file.
  wanted &= ~static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL);
  if (wanted == 0) wanted = FILE_ATTRIBUTE_NORMAL;
  return SetFileAttributesA(path.c_str(), wanted) != FALSE;
}

std::string CurrentDirectory() {
  const std::optional<std::wstring> wide = win32::ReadWholeText(
      [](wchar_t* buffer, DWORD size) { return GetCurrentDirectoryW(size, buffer); });
  if (!wide) return {};
  return win32::Narrow(*wide).value_or(std::string());
}

std::string NativePath(std::string_view path) { return std::string(path); }

FileTime LocalFileTimeToUtc(FileTime local) {
  const FILETIME in = ToFiletime(local);
  FILETIME out;
  if (!LocalFileTimeToFileTime(&in, &out)) return local;
  return FromFiletime(out);
}

File File::Open(const std::string& path, OpenMode mode) {
  DWORD access = GENERIC_READ;
  DWORD share = FILE_SHARE_READ;
  DWORD disposition = OPEN_EXISTING;
  switch (mode) {
    case OpenMode::kWriteKeep:
      // Shared for reading only: a second writer is refused while it is open.
      access = GENERIC_WRITE;
      disposition = OPEN_ALWAYS;
      break;
    case OpenMode::kReadWriteKeep:
      access = GENERIC_READ | GENERIC_WRITE;
      disposition = OPEN_ALWAYS;
      break;
    case OpenMode::kCreateTruncate:
      // Emptied below, once it is known to be no link.
      access = GENERIC_WRITE;
      share = 0;
      disposition = OPEN_ALWAYS;
      break;
    case OpenMode::kRead:
    case OpenMode::kReadNoLink:
      // Others may read too, but nobody may write while it is open: an
      // archive must not change under its reader.
      break;
  }
  // A reparse point (a symbolic link, a junction) is opened as itself and
  // then refused, instead of being followed.
  const bool noLink = mode != OpenMode::kRead;
  const HANDLE handle =
      CreateFileA(path.c_str(), access, share, nullptr, disposition,
                  FILE_ATTRIBUTE_NORMAL | (noLink ? FILE_FLAG_OPEN_REPARSE_POINT : 0), nullptr);
  if (handle == INVALID_HANDLE_VALUE) return File();
  File file(reinterpret_cast<std::intptr_t>(handle));
  BY_HANDLE_FILE_INFORMATION info;
  if (noLink && (!GetFileInformationByHandle(handle, &info) ||
                 (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)) {
    return File();
  }
  if (mode == OpenMode::kCreateTruncate && !file.Truncate(0)) return File();
  return file;
}

bool File::IsOpen() const { return handle_ != -1; }

bool File::Write(const void* data, std::size_t size) {
  if (!IsOpen()) return false;
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const DWORD chunk = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!WriteFile(Native(handle_), p, chunk, &written, nullptr) || written == 0) return false;
    p += written;
    size -= written;
  }
  return true;
}

std::int64_t File::Read(void* data, std::size_t size) {
  if (!IsOpen()) return -1;
  const DWORD chunk = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
  DWORD read = 0;
  if (!ReadFile(Native(handle_), data, chunk, &read, nullptr)) return -1;
  return static_cast<std::int64_t>(read);
}

std::int64_t File::ReadAt(std::int64_t offset, void* data, std::size_t size) {
  if (!IsOpen() || offset < 0) return -1;
  return TransferAt(offset, size, [&](std::size_t done, DWORD chunk, OVERLAPPED& at, DWORD& n) {
    return ReadFile(Native(handle_), static_cast<char*>(data) + done, chunk, &n, &at) ||
           GetLastError() == ERROR_HANDLE_EOF;
  });
}

bool File::WriteAt(std::int64_t offset, const void* data, std::size_t size) {
  return IsOpen() && offset >= 0 &&
         TransferAt(offset, size, [&](std::size_t done, DWORD chunk, OVERLAPPED& at, DWORD& n) {
           return WriteFile(Native(handle_), static_cast<const char*>(data) + done, chunk, &n,
                            &at) != FALSE;
         }) == static_cast<std::int64_t>(size);
}

bool File::SeekToEnd() {
  LARGE_INTEGER zero{};
  return IsOpen() && SetFilePointerEx(Native(handle_), zero, nullptr, FILE_END) != FALSE;
}

bool File::Seek(std::int64_t offset) {
  if (!IsOpen() || offset < 0) return false;
  LARGE_INTEGER to;
  to.QuadPart = offset;
  return SetFilePointerEx(Native(handle_), to, nullptr, FILE_BEGIN) != FALSE;
}

std::int64_t File::Tell() {
  if (!IsOpen()) return -1;
  LARGE_INTEGER zero{};
  LARGE_INTEGER at{};
  if (!SetFilePointerEx(Native(handle_), zero, &at, FILE_CURRENT)) return -1;
  return at.QuadPart;
}

bool File::Truncate(std::int64_t size) {
  if (!IsOpen() || size < 0) return false;
  // SetEndOfFile cuts at the file pointer; the pointer is put back afterwards,
  // as ftruncate leaves it.
  const std::int64_t was = Tell();
  if (was < 0 || !Seek(size)) return false;
  const bool cut = SetEndOfFile(Native(handle_)) != FALSE;
  return Seek(was) && cut;
}

bool File::Flush() { return IsOpen() && FlushFileBuffers(Native(handle_)) != FALSE; }

bool File::SetTimes(const FileTime* creation, const FileTime* access,
                    const FileTime* modification) {
  return IsOpen() && SetHandleTimes(Native(handle_), creation, access, modification);
}

void File::Close() {
  if (IsOpen()) {
    CloseHandle(Native(handle_));
    handle_ = -1;
  }
}

}  // namespace platform
