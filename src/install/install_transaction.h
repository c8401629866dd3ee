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

#include <string>

namespace install {

enum class InstallOutcome {
  kInstalled,  // the new set is in place
  kNoArchive,  // no zip archive at that path (none, or not a zip): nothing was changed
  kFailed,     // the archive cannot be installed whole: nothing was changed
};

// `programDir` ends in a separator. Finishes or undoes an interrupted install
// first.
InstallOutcome InstallArchive(const std::string& archivePath, const std::string& programDir);

// Finishes or undoes an install that the journal in `programDir` shows under
// way, and removes its staging directory. False when that could not be done
// whole (the journal then stays for the next start).
bool RecoverInterruptedInstall(const std::string& programDir);

}  // namespace install
