// What an install will do, worked out from the archive's descriptions and the
// program directory before anything is written: the entries to place, the
// directories to create, and what each new file is to carry. A plan that
// cannot be carried out whole (a refused name, a path too long, a file where a
// directory must go, a path through a link) is refused as a whole.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "archive/archive.h"
#include "platform/files.h"

namespace install {

// A file from the archive, a link from the archive, or a file whose bytes
// the caller gives (PlacedFile).
enum class EntryKind { kFile, kLink, kData };

// A file that the install places beside the archive's items, in the same
// transaction: it is in place exactly when the new set is.
struct PlacedFile {
  std::string name;  // in the program directory itself
  std::string bytes;
};

struct PlannedEntry {
  std::int32_t index = 0;  // the archive item
  EntryKind kind = EntryKind::kFile;
  std::uint64_t size = 0;  // bytes the staged entry takes
  std::string data;        // kData: the bytes
  // Relative to the program directory, in the system's form.
  std::string target;
  std::uint32_t attributes = 0;  // kAttrReadOnly, kAttrHidden, kAttrSystem, kAttrArchive
  // POSIX permission bits for the new file: from the archive (less the
  // umask), or exactly those of the file it replaces (`exactPermissions`),
  // or 0 for the system's default.
  std::uint32_t permissions = 0;
  bool exactPermissions = false;
  platform::FileTime creationTime = 0;
  platform::FileTime accessTime = 0;
  platform::FileTime modificationTime = 0;
};

struct Plan {
  std::vector<PlannedEntry> entries;
  std::vector<std::string> createdDirectories;  // parents first
};

// `programDir` ends in a separator. False when the archive and `placed`
// cannot be installed whole; `refused`, when given, then names the item
// that is refused (empty when the archive cannot be read).
bool MakePlan(ArchiveHandle* archive, const std::string& programDir,
              const std::vector<PlacedFile>& placed, Plan& plan, std::string* refused = nullptr);

// Whether the link text `linkTarget`, stored at `linkPath` (relative to the
// program directory), names a place inside the program directory.
bool LinkStaysInside(const std::string& linkPath, const std::string& linkTarget);

}  // namespace install
