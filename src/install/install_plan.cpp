#include "install/install_plan.h"

#include <set>
#include <string_view>

#include "archive/item_attributes.h"
#include "platform/install_files.h"
#include "platform/path.h"
#include "platform/text.h"

namespace install {
namespace {

constexpr std::uint32_t kFileAttributeBits = platform::kAttrReadOnly | platform::kAttrHidden |
                                             platform::kAttrSystem | platform::kAttrArchive;
constexpr std::uint32_t kPermissionBits = 0777;
constexpr std::uint32_t kWriteBits = 0222;
constexpr std::uint32_t kOwnerWrite = 0200;

// The parts of a name between separators ("/" or "\\", on character
// boundaries of the active code page); empty parts are dropped.
std::vector<std::string> SplitName(std::string_view name) {
  const platform::CodePage codePage = platform::ActiveCodePage();
  std::vector<std::string> parts;
  std::string part;
  for (std::size_t i = 0; i < name.size(); ++i) {
    const auto byte = static_cast<unsigned char>(name[i]);
    if (platform::IsLeadByte(codePage, byte) && i + 1 < name.size()) {
      part.append(name.substr(i, 2));
      ++i;
    } else if (byte == '/' || byte == '\\') {
      if (!part.empty()) parts.push_back(std::move(part));
      part.clear();
    } else {
      part.push_back(static_cast<char>(byte));
    }
  }
  if (!part.empty()) parts.push_back(std::move(part));
  return parts;
}

bool IsDotPart(const std::string& part) { return part == "." || part == ".."; }

// Names that Windows opens as a device, whatever their extension ("NUL.txt",
// "com1.dll"), and names with a stream separator ("a.dll:x"): a package
// holding one would write to a device or a hidden stream there, so the plan
// refuses them on every system alike.
bool IsDeviceOrStreamPart(const std::string& part) {
  if (part.find(':') != std::string::npos) return true;
  std::string base = part.substr(0, part.find('.'));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  for (char& c : base) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL" || base == "CONIN$" ||
      base == "CONOUT$") {
    return true;
  }
  return base.size() == 4 && (base.starts_with("COM") || base.starts_with("LPT")) &&
         base[3] >= '1' && base[3] <= '9';
}

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
      if (IsDotPart(part) || IsDeviceOrStreamPart(part)) return false;
    }
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
    if (!FitsPathLimit(entry.target)) return false;
    if (directories_.count(entry.target) != 0) return false;
    entry.kind =
        (mode & archive::kUnixTypeMask) == archive::kUnixLink ? EntryKind::kLink : EntryKind::kFile;
    entry.attributes = item.attributes & kFileAttributeBits;
    entry.creationTime = item.creationTime;
    entry.accessTime = item.accessTime;
    entry.modificationTime = item.modificationTime;

    const auto existing = platform::GetEntryStatus(programDir_ + entry.target);
    if (existing && existing->kind != platform::EntryKind::kFile &&
        existing->kind != platform::EntryKind::kLink) {
      return false;  // a directory (or stranger) is not replaced by a file
    }
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
    targets_.insert(entry.target);
    plan_.entries.push_back(std::move(entry));
    return true;
  }

 private:
  bool FitsPathLimit(const std::string& path) const {
    return platform::FitsPathLimit(programDir_ + path);
  }

  const std::string& programDir_;
  Plan& plan_;
  std::set<std::string> directories_;  // checked or planned
  std::set<std::string> targets_;      // planned entries
};

}  // namespace

bool MakePlan(ArchiveHandle* archive, const std::string& programDir, Plan& plan) {
  plan = Plan();
  ArchiveItem summary;
  if (ArchiveGetItem(archive, -1, &summary) != ARCHIVE_OK) return false;
  Planner planner(programDir, plan);
  for (std::int32_t i = 0; i < summary.index; ++i) {
    if (!planner.PlanItem(archive, i)) return false;
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
