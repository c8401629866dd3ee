// Installing an archive as one transaction over the program directory, in the
// manner of a rollback journal: every item is written into a staging
// directory inside the program directory and checked, the staged data is
// brought to the disk, the journal records the plan, and the commit moves each
// replaced entry aside into the staging directory and the new one into its
// place. Until the journal says the commit is done, an interruption (a crash,
// kill -9, a power cut) is undone by RecoverInterruptedInstall at the next
// start; afterwards only clean-up is left. Either way the program directory is
// wholly as before or wholly new.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "install/install_plan.h"

namespace install {

enum class InstallOutcome {
  kInstalled,  // the new set is in place
  kNoArchive,  // no zip archive at that path (none, or not a zip): nothing was changed
  kFailed,     // the archive cannot be installed whole: nothing was changed
  kDeclined,   // `mayCommit` said no: nothing was changed
};

// What an install did and, when it failed, where and why as far as known.
struct InstallResult {
  InstallResult(InstallOutcome result = InstallOutcome::kFailed, std::string failed = {},
                std::uint32_t system = 0, std::uint32_t archive = 0)
      : outcome(result), item(std::move(failed)), systemError(system), archiveResult(archive) {}
  InstallOutcome outcome;
  // The entry that failed: an item's name in the program directory, or the
  // transaction's own journal or staging directory. Empty: none in
  // particular (no room, an archive that cannot be read).
  std::string item;
  std::uint32_t systemError;    // the failing system call's code; 0: none
  std::uint32_t archiveResult;  // an ArchiveResult for an item that could not be read
  std::size_t items = 0;        // the entries installed
};

// What becomes of the archive once every item is staged.
enum class ArchiveAfterStaging {
  kKept,
  // The caller's own copy, of no use once read: it is closed and removed
  // before the staged data is brought to the disk, so that its bytes are
  // never written out with them.
  kRemoved,
};

// `programDir` ends in a separator. Finishes or undoes an interrupted install
// first. `mayCommit`, when given, is asked once everything is staged and on
// the disk, right before the first installed entry changes (the caller waits
// there for the programs that use the files). An item that would replace the
// archive itself is left out: the package is not part of what it installs.
// An archive with an item over one of the updater's own files is refused.
// `placed` files are installed with the archive's items, in the same
// transaction. Room for the staged entries is checked before anything is
// written.
InstallResult InstallArchive(const std::string& archivePath, const std::string& programDir,
                             const std::function<bool()>& mayCommit = {},
                             const std::vector<PlacedFile>& placed = {},
                             ArchiveAfterStaging after = ArchiveAfterStaging::kKept);

// Finishes or undoes an install that the journal in `programDir` shows under
// way, and removes its staging directory; anything else at the journal's name
// is moved aside (kept under a name with the time in it). False when that
// could not be done whole (the journal then stays for the next start).
bool RecoverInterruptedInstall(const std::string& programDir);

}  // namespace install
