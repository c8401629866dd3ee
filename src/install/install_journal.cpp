#include "install/install_journal.h"

#include <zlib.h>

#include <algorithm>
#include <chrono>

#include "platform/crash_point.h"
#include "platform/files.h"
#include "platform/install_files.h"
#include "platform/path.h"

namespace install {
namespace {

constexpr std::string_view kMagic = "KVJ1";
constexpr std::uint32_t kMaxJournalSize = 64u << 20;
constexpr int kMaxAsideNames = 100;

void PutNumber(std::string& out, std::uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<char>(value >> shift));
}

void PutText(std::string& out, const std::string& text) {
  PutNumber(out, static_cast<std::uint32_t>(text.size()));
  out += text;
}

std::uint32_t Crc(std::string_view bytes) {
  return static_cast<std::uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size())));
}

// Reads the journal's fields in order; any read past the end fails it.
class JournalReader {
 public:
  explicit JournalReader(std::string_view bytes) : bytes_(bytes) {}
  bool Number(std::uint32_t& value) {
    if (bytes_.size() - at_ < 4) return false;
    value = 0;
    for (int i = 3; i >= 0; --i) value = value << 8 | static_cast<unsigned char>(bytes_[at_ + i]);
    at_ += 4;
    return true;
  }
  bool Text(std::string& text) {
    std::uint32_t size = 0;
    if (!Number(size) || bytes_.size() - at_ < size) return false;
    text.assign(bytes_.substr(at_, size));
    at_ += size;
    return true;
  }
  bool Texts(std::vector<std::string>& texts) {
    std::uint32_t count = 0;
    if (!Number(count) || count > bytes_.size()) return false;
    texts.resize(count);
    for (std::string& text : texts) {
      if (!Text(text)) return false;
    }
    return true;
  }
  bool AtEnd() const { return at_ == bytes_.size(); }

 private:
  std::string_view bytes_;
  std::size_t at_ = 0;
};

std::string JournalPath(const std::string& programDir) {
  return programDir + std::string(kJournalName);
}

bool WriteDurably(platform::File& file, const std::string& bytes) {
  return file.IsOpen() && file.Write(bytes.data(), bytes.size()) && file.Flush();
}

}  // namespace

std::string StagedName(std::size_t entry) { return "s" + std::to_string(entry); }
std::string BackupName(std::size_t entry) { return "b" + std::to_string(entry); }

std::string EncodeJournal(const Journal& journal) {
  std::string out(kMagic);
  out.push_back(static_cast<char>(journal.state));
  PutText(out, journal.stagingName);
  PutNumber(out, static_cast<std::uint32_t>(journal.targets.size()));
  for (const std::string& target : journal.targets) PutText(out, target);
  PutNumber(out, static_cast<std::uint32_t>(journal.createdDirectories.size()));
  for (const std::string& directory : journal.createdDirectories) PutText(out, directory);
  PutNumber(out, Crc(out));
  return out;
}

JournalRead DecodeJournal(std::string_view bytes, Journal& journal) {
  // A first write cut short leaves an empty file or the start of one.
  const bool ours = bytes.substr(0, kMagic.size()) == kMagic.substr(0, bytes.size());
  const auto torn = ours ? JournalRead::kTorn : JournalRead::kForeign;
  if (bytes.size() < kMagic.size() + 1 + 4) return torn;
  const std::string_view body = bytes.substr(0, bytes.size() - 4);
  std::uint32_t crc = 0;
  JournalReader tail(bytes.substr(body.size()));
  if (!tail.Number(crc) || crc != Crc(body)) return torn;
  const auto state = static_cast<JournalState>(body[kMagic.size()]);
  if (state != JournalState::kStaging && state != JournalState::kCommitting &&
      state != JournalState::kDone) {
    return JournalRead::kForeign;
  }
  Journal read;
  read.state = state;
  JournalReader reader(body.substr(kMagic.size() + 1));
  if (!reader.Text(read.stagingName) || !reader.Texts(read.targets) ||
      !reader.Texts(read.createdDirectories) || !reader.AtEnd() ||
      !IsStagingName(read.stagingName) ||
      !std::all_of(read.targets.begin(), read.targets.end(), IsJournalPath) ||
      !std::all_of(read.createdDirectories.begin(), read.createdDirectories.end(), IsJournalPath)) {
    return JournalRead::kForeign;
  }
  journal = std::move(read);
  return JournalRead::kValid;
}

JournalRead ReadJournal(const std::string& programDir, Journal& journal) {
  const std::string path = JournalPath(programDir);
  const auto status = platform::GetEntryStatus(path);
  if (!status) return JournalRead::kNone;
  if (status->kind != platform::EntryKind::kFile) return JournalRead::kForeign;
  platform::File file = platform::File::Open(path, platform::OpenMode::kRead);
  if (!file.IsOpen()) return JournalRead::kForeign;
  std::string bytes;
  char buffer[16384];
  for (;;) {
    const std::int64_t n = file.Read(buffer, sizeof buffer);
    if (n < 0) return JournalRead::kForeign;
    if (n == 0) break;
    bytes.append(buffer, static_cast<std::size_t>(n));
    if (bytes.size() > kMaxJournalSize) return JournalRead::kForeign;
  }
  return DecodeJournal(bytes, journal);
}

bool CreateJournal(const std::string& programDir, const Journal& journal) {
  platform::File file = platform::CreateNewFile(JournalPath(programDir), 0, 0);
  if (!WriteDurably(file, EncodeJournal(journal))) return false;
  file.Close();
  return platform::SyncDirectory(programDir);
}

bool ReplaceJournal(const std::string& programDir, const Journal& journal) {
  const std::string next = programDir + journal.stagingName + platform::PathSeparator() + "j" +
                           std::to_string(static_cast<int>(journal.state));
  // Left by a replacement that a crash cut short: the staging directory is
  // the transaction's own.
  platform::RemoveEntry(next);
  platform::File file = platform::CreateNewFile(next, 0, 0);
  if (!WriteDurably(file, EncodeJournal(journal))) return false;
  file.Close();
  platform::CrashPoint();
  return platform::MoveEntry(next, JournalPath(programDir), true) &&
         platform::SyncDirectory(programDir);
}

bool RemoveJournal(const std::string& programDir) {
  return platform::RemoveEntry(JournalPath(programDir)) && platform::SyncDirectory(programDir);
}

bool SetJournalAside(const std::string& programDir) {
  const std::string journal = JournalPath(programDir);
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  const std::string aside =
      journal + "." + std::to_string(std::chrono::duration_cast<std::chrono::seconds>(now).count());
  // Two in one second get a count after the time.
  for (int n = 0; n < kMaxAsideNames; ++n) {
    if (platform::MoveEntry(journal, n == 0 ? aside : aside + "." + std::to_string(n), false)) {
      return platform::SyncDirectory(programDir);
    }
  }
  return false;
}

}  // namespace install
