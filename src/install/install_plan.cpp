#include "install/install_plan.h"

#include <optional>
#include <set>
#include <string_view>

#include "archive/item_attributes.h"
#include "install/install_names.h"
#include "platform/install_files.h"
#include "platform/path.h"

namespace install {
namespace {

constexpr std::uint32_t kFileAttributeBits = platform::kAttrReadOnly | platform::kAttrHidden |
                                             platform::kAttrSystem | platform::kAttrArchive;
constexpr std::uint32_t kPermissionBits = 0777;
constexpr std::uint32_t kWriteBits = 0222;
constexpr std::uint32_t kOwnerWrite = 0200;

class Planner {
 public:
  Planner(const std::string& programDir, Plan& plan) : programDir_(programDir), plan_(plan) {}

  // Every directory on the way to `parts[0..count)` exists as a directory or
  // is created by the plan; none is a link, a file, or a planned entry.
  bool PlanDirectories(const std::vector<std::string>& parts, std::size_t count) {
    std::string path;
    for (std::size_t i = 0; i < count; ++i) {
      if (i > 0) path += platform::PathSeparator();
      path += parts[i];
      if (directories_.count(path) != 0) continue;
      if (targets_.count(path) != 0 || !FitsPathLimit(path)) return false;
      const auto status = platform::GetEntryStatus(programDir_ + path);
      if (!status) {
        plan_.createdDirectories.push_back(path);
      } else if (status->kind != platform::EntryKind::kDirectory) {
        return false;
      }
      directories_.insert(path);
    }
    return true;
  }

  bool PlanItem(ArchiveHandle* archive, std::int32_t index) {
    ArchiveItem item;
    std::uint32_t mode = 0;
    if (ArchiveGetItem(archive, index, &item) != ARCHIVE_OK ||
        ArchiveGetItemMode(archive, index, &mode) != ARCHIVE_OK) {
      return false;
    }
    const std::vector<std::string> parts = SplitName(item.name);
    for (const std::string& part : parts) {
      if (!IsPlainPart(part)) return false;
    }
    // An item over one of the updater's own files (its journal, say) would
    // leave an install that no later run could judge.
    if (!parts.empty() && IsOwnName(parts[0])) return false;
    if ((item.attributes & platform::kAttrDirectory) != 0) {
      return PlanDirectories(parts, parts.size());
    }
    if (parts.empty() || !PlanDirectories(parts, parts.size() - 1)) return false;

    PlannedEntry entry;
    entry.index = index;
    for (std::size_t i = 0; i < parts.size(); ++i) {
      if (i > 0) entry.target += platform::PathSeparator();
      entry.target += parts[i];
    }
    entry.kind =
        (mode & archive::kUnixTypeMask) == archive::kUnixLink ? EntryKind::kLink : EntryKind::kFile;
    entry.size = item.uncompressedSize;
    entry.attributes = item.attributes & kFileAttributeBits;
    entry.creationTime = item.creationTime;
    entry.accessTime = item.accessTime;
    entry.modificationTime = item.modificationTime;

    std::optional<platform::EntryStatus> existing;
    if (!TakeTarget(entry.target, existing)) return false;
    if ((mode & archive::kUnixTypeMask) == archive::kUnixRegular) {
      entry.permissions = mode & kPermissionBits;
    } else if (existing && existing->kind == platform::EntryKind::kFile &&
               existing->permissions != 0) {
      // Executables stay executable; writability follows the archive.
      entry.permissions = existing->permissions & kPermissionBits;
      entry.permissions = (entry.attributes & platform::kAttrReadOnly) != 0
                              ? entry.permissions & ~kWriteBits
                              : entry.permissions | kOwnerWrite;
      entry.exactPermissions = true;
    }
    plan_.entries.push_back(std::move(entry));
    return true;
  }

  bool PlanPlacedFile(const PlacedFile& placed) {
    PlannedEntry entry;
    entry.kind = EntryKind::kData;
    entry.target = placed.name;
    entry.size = placed.bytes.size();
    entry.data = placed.bytes;
    std::optional<platform::EntryStatus> existing;
    if (!TakeTarget(entry.target, existing)) return false;
    plan_.entries.push_back(std::move(entry));
    return true;
  }

 private:
  // Whether a new file may take `target`: its path fits, no planned
  // directory holds it, and what stands there (told in `existing`) is a file
  // or a link that the commit moves aside.
  bool TakeTarget(const std::string& target, std::optional<platform::EntryStatus>& existing) {
    if (!FitsPathLimit(target) || directories_.count(target) != 0) return false;
    targets_.insert(target);
    existing = platform::GetEntryStatus(programDir_ + target);
    // A directory (or stranger) is not replaced by a file.
    return !existing || existing->kind == platform::EntryKind::kFile ||
           existing->kind == platform::EntryKind::kLink;
  }

  bool FitsPathLimit(const std::string& path) const {
    return platform::FitsPathLimit(programDir_ + path);
  }

  const std::string& programDir_;
  Plan& plan_;
  std::set<std::string> directories_;  // checked or planned
  std::set<std::string> targets_;      // planned entries
};

}  // namespace

bool MakePlan(ArchiveHandle* archive, const std::string& programDir,
              const std::vector<PlacedFile>& placed, Plan& plan, std::string* refused) {
  plan = Plan();
  std::string ignored;
  std::string& name = refused != nullptr ? *refused : ignored;
  name.clear();
  ArchiveItem summary;
  if (ArchiveGetItem(archive, -1, &summary) != ARCHIVE_OK) return false;
  Planner planner(programDir, plan);
  for (std::int32_t i = 0; i < summary.index; ++i) {
    if (!planner.PlanItem(archive, i)) {
      ArchiveItem item;
      if (ArchiveGetItem(archive, i, &item) == ARCHIVE_OK) name = item.name;
      return false;
    }
  }
  for (const PlacedFile& file : placed) {
    if (!planner.PlanPlacedFile(file)) {
      name = file.name;
      return false;
    }
  }
  return true;
}

bool LinkStaysInside(const std::string& linkPath, const std::string& linkTarget) {
  if (linkTarget.empty() || linkTarget[0] == '/' || linkTarget[0] == '\\' ||
      (linkTarget.size() >= 2 && linkTarget[1] == ':')) {
    return false;
  }
  std::vector<std::string> place = SplitName(linkPath);
  if (place.empty()) return false;
  place.pop_back();  // the link's own name
  for (const std::string& part : SplitName(linkTarget)) {
    if (part == "..") {
      if (place.empty()) return false;
      place.pop_back();
    } else if (part != ".") {
      place.push_back(part);
    }
  }
  return true;
}

}  // namespace install
