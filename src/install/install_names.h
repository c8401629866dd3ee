// The names an install deals in: the parts of an item's name, the parts that
// Windows would open as a device or a stream, and the updater's own files in
// the program directory, which no package installs over and which a journal
// names only as the transaction's own.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace install {

inline constexpr std::string_view kJournalName = "update.journal";
// The staging directory; ".1" to ".99" after it when that name is taken.
inline constexpr std::string_view kStagingName = "update.staging";
inline constexpr int kStagingNamesTried = 100;
// The updater's other files in the program directory: the downloaded
// package, the copy of a local one, the installed release's signature and
// the run's log.
inline constexpr char kPackageName[] = "update.zip";
inline constexpr char kLocalCopyName[] = "update.local.zip";
inline constexpr char kInstalledSignatureName[] = "installed-release.minisig";
inline constexpr char kLogName[] = "updater.log";

// The parts of a name between separators ("/" or "\\", on character
// boundaries of the active code page); empty parts are dropped.
std::vector<std::string> SplitName(std::string_view name);

// Whether a part names a file of its own: not "." or "..", no device
// ("NUL.txt", "com1") and no stream of a file ("a.dll:x").
bool IsPlainPart(const std::string& part);

// Whether `part`, the first part of a name in the program directory, is one
// of the updater's own names or begins with one, in any case (Windows finds
// "UPDATE.ZIP.down" as the same file).
bool IsOwnName(std::string_view part);

// Whether `name` is one the transaction gives its staging directory.
bool IsStagingName(std::string_view name);

// Whether a journal may name `path` as an entry or a created directory: a
// relative path of plain parts, inside the program directory, that is not
// the journal or a staging directory.
bool IsJournalPath(std::string_view path);

}  // namespace install
