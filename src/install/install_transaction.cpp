#include "install/install_transaction.h"

#include <atomic>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "archive/archive.h"
#include "install/install_journal.h"
#include "install/install_plan.h"
#include "platform/crash_point.h"
#include "platform/files.h"
#include "platform/install_files.h"
#include "platform/path.h"
#include "platform/system_error.h"

namespace install {
namespace {

// The longest name inside the staging directory ("s" or "b" and an index).
constexpr std::size_t kStagedNameRoom = 12;
// A link's text is short; anything longer is not a link worth making.
constexpr std::size_t kMaxLinkTextSize = 4096;

bool Exists(const std::string& path) { return platform::GetEntryStatus(path).has_value(); }

// Brings everything written so far below `programDir` to the disk, where one
// call can (Windows writes each file and move through instead).
bool SyncWritten(const std::string& programDir) {
  return !platform::CanSyncFileSystem() || platform::SyncFileSystem(programDir);
}

// Removes the staging directory and everything in it (only the transaction's
// own files and links are ever there).
bool RemoveStaging(const std::string& stagingDir) {
  const auto names = platform::ListDirectory(stagingDir);
  if (!names) return !Exists(stagingDir);
  for (const std::string& name : *names) {
    platform::RemoveEntry(stagingDir + platform::PathSeparator() + name);
    platform::CrashPoint();
  }
  return platform::RemoveDirectory(stagingDir);
}

// Puts every replaced entry back and every new one into the staging
// directory, and removes every created directory. Each entry is judged by
// what is on the disk, and each move keeps this true, so that a roll-back cut
// short is taken up again: the new entry is in place exactly when its staged
// name is free, and the replaced one is aside exactly when its backup name is
// taken.
bool RollBack(const std::string& programDir, const Journal& journal) {
  const std::string stagingDir = programDir + journal.stagingName + platform::PathSeparator();
  bool whole = true;
  for (std::size_t i = journal.targets.size(); i-- > 0;) {
    const std::string target = programDir + journal.targets[i];
    const std::string staged = stagingDir + StagedName(i);
    const std::string backup = stagingDir + BackupName(i);
    if (!Exists(staged) && Exists(target)) {
      if (!platform::MoveEntry(target, staged, false)) whole = false;
      platform::CrashPoint();
    }
    if (Exists(backup)) {
      if (!platform::MoveEntry(backup, target, false)) whole = false;
      platform::CrashPoint();
    }
  }
  for (std::size_t i = journal.createdDirectories.size(); i-- > 0;) {
    platform::RemoveDirectory(programDir + journal.createdDirectories[i]);
  }
  return SyncWritten(programDir) && whole;
}

// Whether the program directory's disk has room for every staged entry
// beside the installed set (as far as the system tells), so that a full disk
// fails the install before its first write rather than half-way.
bool RoomToStage(const Plan& plan, const std::string& programDir) {
  const std::optional<std::uint64_t> free = platform::FreeDiskSpace(programDir);
  std::uint64_t needed = 0;
  for (const PlannedEntry& entry : plan.entries) needed += entry.size;
  return !free || needed <= *free;
}

class Transaction {
 public:
  explicit Transaction(const std::string& programDir) : programDir_(programDir) {}
  // The first failure of the transaction, as its caller is told it.
  InstallResult failure() const {
    const std::lock_guard<std::mutex> lock(failureMutex_);
    return failure_;
  }
  ~Transaction() {
    // Whatever was not committed is undone, from what the disk holds.
    if (begun_) RecoverInterruptedInstall(programDir_);
  }
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;

  bool Begin(const Plan& plan) {
    for (int n = 0; n < kStagingNamesTried && journal_.stagingName.empty(); ++n) {
      std::string name(kStagingName);
      if (n > 0) name += "." + std::to_string(n);
      if (!Exists(programDir_ + name)) journal_.stagingName = name;
    }
    if (journal_.stagingName.empty()) return Failed(std::string(kStagingName), false);
    stagingDir_ = programDir_ + journal_.stagingName + platform::PathSeparator();
    if (!platform::FitsPathLimit(stagingDir_ + std::string(kStagedNameRoom, '0'))) {
      return Failed(journal_.stagingName, false);
    }
    for (const PlannedEntry& entry : plan.entries) journal_.targets.push_back(entry.target);
    journal_.createdDirectories = plan.createdDirectories;
    // The journal comes first, so that no staging directory is ever left
    // without one that names it.
    const Journal first{JournalState::kStaging, journal_.stagingName, {}, {}};
    if (!CreateJournal(programDir_, first)) return Failed(std::string(kJournalName));
    begun_ = true;
    platform::CrashPoint();
    if (!platform::CreateDirectory(stagingDir_.substr(0, stagingDir_.size() - 1))) {
      return Failed(journal_.stagingName);
    }
    platform::CrashPoint();
    return true;
  }

  // Stages every entry on two threads, each with its own reader of the
  // archive: inflating is most of the work, and the entries are independent
  // (each has its own staged name). The second reader is a help, not a
  // need: without it, or without a thread, one thread stages them all.
  bool Stage(ArchiveHandle* archive, const std::string& archivePath, const Plan& plan) {
    std::atomic<std::size_t> next{0};
    std::atomic<bool> failed{false};
    const auto stageEntries = [&](ArchiveHandle* reader) {
      // Each thread takes the next entry in turn, so its own indices only
      // grow and its reader walks the archive forward.
      for (std::size_t i = next++; i < plan.entries.size() && !failed; i = next++) {
        const PlannedEntry& entry = plan.entries[i];
        const std::string staged = stagingDir_ + StagedName(i);
        const bool ok = entry.kind == EntryKind::kLink   ? StageLink(reader, entry, staged)
                        : entry.kind == EntryKind::kData ? StageData(entry, staged)
                                                         : StageFile(reader, entry, staged);
        if (!ok) failed = true;
        platform::CrashPoint();
      }
    };
    const ArchivePtr second(plan.entries.size() > 1 ? ArchiveOpen(archivePath.c_str(), nullptr)
                                                    : nullptr);
    std::thread helper;
    if (second) {
      try {
        helper = std::thread(stageEntries, second.get());
      } catch (const std::system_error&) {
        // No thread to be had: this one stages everything.
      }
    }
    stageEntries(archive);
    if (helper.joinable()) helper.join();
    return !failed;
  }

  // The staged data reaches the disk before anything installed changes.
  bool SyncStaged() {
    if (!SyncWritten(programDir_)) return Failed(journal_.stagingName);
    platform::CrashPoint();
    return true;
  }

  bool Commit() {
    journal_.state = JournalState::kCommitting;
    if (!ReplaceJournal(programDir_, journal_)) return Failed(std::string(kJournalName));
    platform::CrashPoint();
    for (const std::string& directory : journal_.createdDirectories) {
      const std::string path = programDir_ + directory;
      if (!platform::CreateDirectory(path) && !IsDirectory(path)) return Failed(directory);
      platform::CrashPoint();
    }
    for (std::size_t i = 0; i < journal_.targets.size(); ++i) {
      const std::string target = programDir_ + journal_.targets[i];
      if (Exists(target)) {
        if (!platform::MoveEntry(target, stagingDir_ + BackupName(i), false)) {
          return Failed(journal_.targets[i]);
        }
        platform::CrashPoint();
      }
      if (!platform::MoveEntry(stagingDir_ + StagedName(i), target, false)) {
        return Failed(journal_.targets[i]);
      }
      platform::CrashPoint();
    }
    if (!SyncWritten(programDir_)) return Failed(journal_.stagingName);
    journal_.state = JournalState::kDone;
    if (!ReplaceJournal(programDir_, journal_)) return Failed(std::string(kJournalName));
    platform::CrashPoint();
    // From here on the new set stands; clean-up may also be left to the next
    // start.
    begun_ = false;
    if (RemoveStaging(stagingDir_.substr(0, stagingDir_.size() - 1))) RemoveJournal(programDir_);
    return true;
  }

 private:
  static bool IsDirectory(const std::string& path) {
    const auto status = platform::GetEntryStatus(path);
    return status && status->kind == platform::EntryKind::kDirectory;
  }

  // Notes the first failure: `item`, with the calling thread's last system
  // error when a system call failed (`system`), or the archive's result.
  // False, for the failing step to return.
  bool Failed(const std::string& item, bool system = true, std::uint32_t archiveResult = 0) {
    const std::uint32_t code = system ? platform::LastSystemError() : 0;
    const std::lock_guard<std::mutex> lock(failureMutex_);
    if (!noted_) failure_ = {InstallOutcome::kFailed, item, code, archiveResult};
    noted_ = true;
    return false;
  }

  bool StageFile(ArchiveHandle* archive, const PlannedEntry& entry, const std::string& staged) {
    platform::File file = platform::CreateNewFile(staged, entry.attributes,
                                                  entry.exactPermissions ? 0 : entry.permissions);
    if (!file.IsOpen()) return Failed(entry.target);
    const ArchiveResult written = ArchiveWriteItemData(archive, entry.index, file);
    if (written != ARCHIVE_OK) {
      // Only a failed read or write of a file leaves a system error behind.
      return Failed(entry.target, written == ARCHIVE_WRITE_FAILED || written == ARCHIVE_READ_FAILED,
                    written);
    }
    if (entry.exactPermissions && !platform::SetPermissions(file, entry.permissions)) {
      return Failed(entry.target);
    }
    // A failure to set the times is not worth an update; the data is.
    file.SetTimes(&entry.creationTime, &entry.accessTime, &entry.modificationTime);
    return FinishStaged(file) || Failed(entry.target);
  }

  bool StageData(const PlannedEntry& entry, const std::string& staged) {
    platform::File file = platform::CreateNewFile(staged, 0, 0);
    return (file.IsOpen() && file.Write(entry.data.data(), entry.data.size()) &&
            FinishStaged(file)) ||
           Failed(entry.target);
  }

  // Starts a staged file's way to the disk (written while the next items
  // inflate), or flushes it where the file system cannot be synced at once.
  static bool FinishStaged(platform::File& file) {
    if (platform::CanSyncFileSystem()) {
      platform::StartWriteback(file);
    } else if (!file.Flush()) {
      return false;
    }
    file.Close();
    return true;
  }

  bool StageLink(ArchiveHandle* archive, const PlannedEntry& entry, const std::string& staged) {
    std::string text;
    const ArchiveResult read = ArchiveReadItemData(archive, entry.index, &text, kMaxLinkTextSize);
    if (read != ARCHIVE_OK) return Failed(entry.target, false, read);
    if (!LinkStaysInside(entry.target, text)) return Failed(entry.target, false);
    return platform::CreateSymbolicLink(text, staged) || Failed(entry.target);
  }

  const std::string& programDir_;
  std::string stagingDir_;
  Journal journal_;
  bool begun_ = false;
  mutable std::mutex failureMutex_;  // the staging threads may both fail
  InstallResult failure_;
  bool noted_ = false;
};

}  // namespace

InstallResult InstallArchive(const std::string& archivePath, const std::string& programDir,
                             const std::function<bool()>& mayCommit,
                             const std::vector<PlacedFile>& placed, ArchiveAfterStaging after) {
  if (!RecoverInterruptedInstall(programDir)) {
    return {InstallOutcome::kFailed, std::string(kJournalName), platform::LastSystemError()};
  }
  ArchivePtr archive(ArchiveOpen(archivePath.c_str(), nullptr));
  if (!archive) return {InstallOutcome::kNoArchive};
  Plan plan;
  std::string refused;
  if (!MakePlan(archive.get(), programDir, placed, plan, &refused)) {
    return {InstallOutcome::kFailed, refused};
  }
  // The archive is held open while it is read: were it one of the targets,
  // it could not be moved aside (Windows), and the install would always fail.
  std::erase_if(plan.entries, [&](const PlannedEntry& entry) {
    return platform::SameFile(programDir + entry.target, archivePath);
  });
  if (!RoomToStage(plan, programDir)) return {InstallOutcome::kFailed};
  Transaction transaction(programDir);
  if (!transaction.Begin(plan) || !transaction.Stage(archive.get(), archivePath, plan)) {
    return transaction.failure();
  }
  if (after == ArchiveAfterStaging::kRemoved) {
    archive.reset();
    platform::DeleteFile(archivePath);
  }
  if (!transaction.SyncStaged()) return transaction.failure();
  if (mayCommit && !mayCommit()) return {InstallOutcome::kDeclined};
  if (!transaction.Commit()) return transaction.failure();
  InstallResult installed(InstallOutcome::kInstalled);
  installed.items = plan.entries.size();
  return installed;
}

bool RecoverInterruptedInstall(const std::string& programDir) {
  Journal journal;
  switch (ReadJournal(programDir, journal)) {
    case JournalRead::kNone:
      return true;
    case JournalRead::kForeign:
      // Not ours, or nothing a recovery may follow: it goes aside, so that it
      // can never keep an install from starting.
      return SetJournalAside(programDir);
    case JournalRead::kTorn:
      // Torn before its staging directory was made.
      return RemoveJournal(programDir);
    case JournalRead::kValid:
      break;
  }
  const std::string stagingDir = programDir + journal.stagingName;
  // Without its staging directory nothing can be judged; what stands stays.
  if (journal.state == JournalState::kCommitting && Exists(stagingDir)) {
    if (!RollBack(programDir, journal)) return false;
    // The staging directory now holds only new entries, and the journal
    // says so before any of them goes: a roll-back would otherwise judge a
    // removed staged entry as one in place.
    journal.state = JournalState::kStaging;
    if (!ReplaceJournal(programDir, journal)) return false;
    platform::CrashPoint();
  }
  if (!RemoveStaging(stagingDir)) return false;
  platform::CrashPoint();
  return RemoveJournal(programDir);
}

}  // namespace install
