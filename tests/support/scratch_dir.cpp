#include "support/scratch_dir.h"

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/files.h"
#include "platform/process.h"

namespace testsupport {
namespace fs = std::filesystem;

ScratchDir::ScratchDir() {
  static std::atomic<unsigned> counter{0};
  std::error_code ec;
  do {  // a name that another process has taken is passed over
    // Of one length on every run: tests of long paths build on it.
    char name[40];
    std::snprintf(name, sizeof name, "updater-test-%010u-%06u", platform::CurrentProcessId(),
                  counter.fetch_add(1) % 1000000u);
    path_ = (fs::temp_directory_path() / name).string();
  } while (!fs::create_directory(path_, ec));
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  // Read-only items must not keep the tree from going.
  for (auto it = fs::recursive_directory_iterator(path_, ec); !ec && it != fs::end(it);
       it.increment(ec)) {
    fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  }
  fs::remove_all(path_, ec);
}

std::string ScratchDir::Join(const std::string& name) const { return path_ + "/" + name; }

std::string ReadFileBytes(const std::string& path) {
  // In one pass of the stream's buffer: a character at a time takes minutes
  // for the peers' 3 MiB files in an instrumented build.
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return std::move(bytes).str();
}

bool WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  return static_cast<bool>(out.write(bytes.data(), static_cast<std::streamsize>(bytes.size())));
}

bool WriteStampedFile(const std::string& path, const std::string& bytes, std::int64_t unixTime) {
  const platform::FileTime stamp = platform::UnixTimeToFileTime(unixTime);
  return WriteFileBytes(path, bytes) && platform::SetFileTimes(path, nullptr, nullptr, &stamp);
}

}  // namespace testsupport
