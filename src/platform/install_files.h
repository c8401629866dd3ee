// What the install transaction needs from the file system beyond platform/files.h:
// files created only under new names, moves that are on the disk when they
// return, flushing written data, symbolic links, and directory listings.
// Nothing here follows a symbolic link at the last part of a path.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/files.h"

namespace platform {

// What stands at a path, the last part not followed.
enum class EntryKind { kFile, kDirectory, kLink, kOther };
struct EntryStatus {
  EntryKind kind = EntryKind::kOther;
  std::uint32_t attributes = 0;   // kAttr* flags, as GetFileStatus gives them
  std::uint32_t permissions = 0;  // POSIX permission bits (07777); 0 on Windows
};
std::optional<EntryStatus> GetEntryStatus(const std::string& path);

// Creates a file that does not exist yet: fails when anything (a link
// included) stands at `path`. The handle is writable even when the new file is
// read-only. `attributes`: kAttrReadOnly, kAttrHidden, kAttrSystem and
// kAttrArchive (others are ignored; POSIX keeps only read-only).
// `permissions` (POSIX bits, less the process's umask) when not 0, else 0666
// or 0444 for read-only, less the umask; Windows ignores them.
File CreateNewFile(const std::string& path, std::uint32_t attributes, std::uint32_t permissions);

// Copies the rest of the open file `source` into a new file at `to` (which,
// as for CreateNewFile, must not exist yet); a copy cut short is removed.
// `seen`, when given, is shown every piece in order as it is written.
using CopySeen = std::function<void(const std::uint8_t* data, std::size_t size)>;
bool CopyToNewFile(File& source, const std::string& to, const CopySeen& seen = {});

// Gives an open file exactly the POSIX permission bits `permissions`
// (no umask). Windows: nothing to do, true.
bool SetPermissions(File& file, std::uint32_t permissions);

// Renames `from` to `to` and returns when the move is on the disk as far as
// the system tells (Windows: MoveFileExA with MOVEFILE_WRITE_THROUGH; POSIX:
// the caller syncs the directories or the file system). With `replace` an
// entry at `to` is replaced in one step; without it the move fails when
// anything stands at `to`.
bool MoveEntry(const std::string& from, const std::string& to, bool replace);

// Whether SyncFileSystem brings every written file of a file system to the
// disk in one call (POSIX: syncfs). Where it cannot (Windows), a writer
// flushes each file (File::Flush) before closing it.
bool CanSyncFileSystem();
bool SyncFileSystem(const std::string& directory);
// Starts writing the file's data to the disk without waiting for it, so that
// a later SyncFileSystem finds less left to write (POSIX: sync_file_range).
// Windows: nothing.
void StartWriteback(File& file);

// Brings the directory's own entries (creations, renames) to the disk.
// Windows: moves are written through; true.
bool SyncDirectory(const std::string& directory);

// Creates the symbolic link `path` holding `target`. Windows: false, links
// are not made there.
bool CreateSymbolicLink(const std::string& target, const std::string& path);

bool RemoveDirectory(const std::string& path);  // an empty one
// Removes a file or a link, also a read-only one.
bool RemoveEntry(const std::string& path);
// The names in a directory, without "." and "..".
std::optional<std::vector<std::string>> ListDirectory(const std::string& path);

// Bytes that this process may still write on the disk that holds
// `directory` (POSIX: statvfs; Windows: GetDiskFreeSpaceExA); nothing when
// the system cannot tell.
std::optional<std::uint64_t> FreeDiskSpace(const std::string& directory);

// Whether this process may create files in `directory` (ending in a
// separator). Windows tries it; POSIX asks access(2).
bool CanWriteIn(const std::string& directory);

// Whether both paths name the same existing file (the same file under two
// names included).
bool SameFile(const std::string& a, const std::string& b);

// A directory of the user's own for temporary files, ending in a separator
// (Windows: GetTempPathA; POSIX: TMPDIR or /tmp).
std::string TemporaryDirectory();

}  // namespace platform
