// Extracts every item of an archive below a directory the way the install
// does (describe an item, then extract it under its cleaned name) and prints
// the seconds it took.
//
//   archive_bench ARCHIVE TARGET [--describe-only] [--flush]
//
// --describe-only  only describes the items (central directory and local
//                  headers), writing nothing
// --flush          forces each extracted file to the disk afterwards, to see
//                  what a flush per file would cost
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "archive/archive.h"
#include "platform/files.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s ARCHIVE TARGET [--describe-only] [--flush]\n", argv[0]);
    return 2;
  }
  bool describeOnly = false;
  bool flush = false;
  for (int i = 3; i < argc; ++i) {
    describeOnly |= std::strcmp(argv[i], "--describe-only") == 0;
    flush |= std::strcmp(argv[i], "--flush") == 0;
  }
  const std::string target = std::string(argv[2]) + "/";

  const auto start = std::chrono::steady_clock::now();
  const ArchivePtr handle(ArchiveOpen(argv[1], nullptr));
  if (!handle) {
    std::fprintf(stderr, "cannot open %s\n", argv[1]);
    return 1;
  }
  ArchiveSetTargetDir(handle.get(), target.c_str());
  ArchiveItem summary;
  ArchiveGetItem(handle.get(), -1, &summary);
  int failed = 0;
  for (std::int32_t i = 0; i < summary.index; ++i) {
    ArchiveItem item;
    if (ArchiveGetItem(handle.get(), i, &item) != ARCHIVE_OK) {
      ++failed;
      continue;
    }
    if (describeOnly) continue;
    if (ArchiveExtractItem(handle.get(), i, item.name) != ARCHIVE_OK) {
      ++failed;
    } else if (flush && (item.attributes & platform::kAttrDirectory) == 0) {
      platform::File file =
          platform::File::Open(platform::NativePath(target + item.name), platform::OpenMode::kRead);
      file.Flush();
    }
  }
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  std::printf("%.3f\n", elapsed.count());
  if (failed > 0) std::fprintf(stderr, "%d items failed\n", failed);
  return failed > 0 ? 1 : 0;
}
