// The archive facade on any bytes, driven the way the install drives it:
// open, read the summary, describe every item and extract it under its
// cleaned name into a target directory two levels below a scratch directory.
// The item tables of tests/archive pin the descriptions and results; here
// every name described is terminated, out-of-range indexes are refused, and
// afterwards nothing exists in the scratch directory outside the target but
// the archive itself and the target's parent. The scratch tree is removed
// after each input.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include "archive/archive.h"
#include "fuzz_support.h"

namespace fs = std::filesystem;

namespace {

// Items beyond these are not extracted: the data of a small input can still
// claim a large size, and the fuzzer should spend its time on the parsing.
constexpr std::int32_t kMaxItems = 64;
constexpr std::uint32_t kMaxExtractedSize = 1 << 20;

// A directory of this process's own, in FUZZ_SCRATCH or the temporary
// directory; removed at exit.
const fs::path& ScratchBase() {
  static const fs::path base = [] {
    const char* given = std::getenv("FUZZ_SCRATCH");
    std::string pattern =
        (given != nullptr ? fs::path(given) : fs::temp_directory_path()) / "archive-fuzz.XXXXXX";
    FUZZ_CHECK(mkdtemp(pattern.data()) != nullptr);
    std::atexit([] {
      std::error_code ec;
      fs::remove_all(ScratchBase(), ec);
    });
    return fs::path(pattern);
  }();
  return base;
}

// Everything below `run` must be the archive, out/, out/target or below it.
void CheckNothingOutside(const fs::path& run) {
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(run, ec); !ec && it != fs::end(it);
       it.increment(ec)) {
    const std::string rel = it->path().lexically_relative(run).generic_string();
    const bool allowed =
        rel == "input.zip" || rel == "out" || rel == "out/target" || rel.starts_with("out/target/");
    if (!allowed) std::fprintf(stderr, "written outside the target: %s\n", rel.c_str());
    FUZZ_CHECK(allowed && !it->is_symlink());
    // Read-only items must not keep the tree from going.
    fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  }
  FUZZ_CHECK(!ec);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const fs::path run = ScratchBase() / "run";
  std::error_code ec;
  fs::remove_all(run, ec);
  fs::create_directories(run / "out", ec);
  FUZZ_CHECK(!ec);
  const std::string archivePath = (run / "input.zip").string();
  FUZZ_CHECK(std::ofstream(archivePath, std::ios::binary)
                 .write(reinterpret_cast<const char*>(data), size)
                 .good());
  const std::string target = (run / "out" / "target").string();

  if (ArchiveHandle* handle = ArchiveOpen(archivePath.c_str(), nullptr)) {
    FUZZ_CHECK(ArchiveSetTargetDir(handle, target.c_str()) == ARCHIVE_OK);
    ArchiveItem item;
    FUZZ_CHECK(ArchiveGetItem(handle, -1, &item) == ARCHIVE_OK && item.index >= 0);
    const std::int32_t count = item.index;
    for (std::int32_t i = 0; i < count && i < kMaxItems; ++i) {
      if (ArchiveGetItem(handle, i, &item) != ARCHIVE_OK) continue;
      FUZZ_CHECK(std::memchr(item.name, '\0', sizeof item.name) != nullptr);
      if (item.uncompressedSize <= kMaxExtractedSize) ArchiveExtractItem(handle, i, item.name);
    }
    FUZZ_CHECK(ArchiveGetItem(handle, count, &item) == ARCHIVE_BAD_ARGUMENT);
    FUZZ_CHECK(ArchiveClose(handle) == ARCHIVE_OK);
  }

  CheckNothingOutside(run);
  fs::remove_all(run, ec);
  return 0;
}
