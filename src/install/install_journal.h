// The journal of an install: one small file in the program directory that
// says what an install has under way, so that the next start of the updater
// can finish or undo it. It is replaced whole (written beside it, flushed,
// moved over it), never edited in place, and carries a CRC-32 of its bytes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "install/install_names.h"

namespace install {

enum class JournalState : std::uint8_t {
  // Items are being written into the staging directory, or a roll-back is
  // complete: nothing installed has changed, the staging directory may go.
  kStaging = 1,
  kCommitting = 2,  // every item is staged and on the disk; targets are being moved
  kDone = 3,        // every new item is in place; only clean-up is left
};

struct Journal {
  JournalState state = JournalState::kStaging;
  // The staging directory, a name inside the program directory.
  std::string stagingName;
  // Entry i: the path, relative to the program directory, that the staged
  // entry "s<i>" replaces; the replaced one is kept as "b<i>" until the end.
  std::vector<std::string> targets;
  // Directories that did not exist and that the commit creates, parents
  // first, relative to the program directory.
  std::vector<std::string> createdDirectories;
};

std::string StagedName(std::size_t entry);
std::string BackupName(std::size_t entry);

std::string EncodeJournal(const Journal& journal);

enum class JournalRead {
  kNone,   // no journal: nothing under way
  kValid,  // `journal` holds it
  kTorn,   // a journal of ours whose first write did not finish
  // Anything else at that name: not a journal, or one whose names would lead
  // outside the program directory or into the updater's own files.
  kForeign,
};
JournalRead DecodeJournal(std::string_view bytes, Journal& journal);

// `programDir` ends in a separator. Each write returns when the journal is
// on the disk.
JournalRead ReadJournal(const std::string& programDir, Journal& journal);
// Creates the first journal; fails when anything stands at its name.
bool CreateJournal(const std::string& programDir, const Journal& journal);
// Replaces the journal by `journal`, written first inside its staging
// directory.
bool ReplaceJournal(const std::string& programDir, const Journal& journal);
bool RemoveJournal(const std::string& programDir);
// Moves whatever stands at the journal's name aside, to the journal's name
// followed by "." and the time (seconds since 1970).
bool SetJournalAside(const std::string& programDir);

}  // namespace install
