// updater-blockmap: writes the block map of a package beside it, for clients
// that build the package from the blocks of the one they already hold.
//
//   updater-blockmap PACKAGE   writes PACKAGE.blockmap (the format is in
//                              src/delta/block_map.h and the README)
//
// The map is written under a temporary name and put in place whole, so a
// server never publishes half a map.
// Exit status: 0 written, 1 no map written (the package cannot be read, is
// empty or too large for a map, or the map cannot be written), 64 bad usage.
#include <cstdio>
#include <string>

#include "delta/block_map.h"
#include "platform/files.h"
#include "platform/process.h"

int main(int argc, char** argv) {
  platform::InitProcess(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: updater-blockmap PACKAGE\n");
    return 64;
  }
  const std::string package = argv[1];
  const std::string mapPath = package + delta::kBlockMapSuffix;
  const std::string partPath = mapPath + ".part";
  platform::File input = platform::File::Open(package, platform::OpenMode::kRead);
  if (!input.IsOpen()) {
    std::fprintf(stderr, "updater-blockmap: cannot read %s\n", package.c_str());
    return 1;
  }
  bool written = false;
  {
    platform::File output = platform::File::Open(partPath, platform::OpenMode::kCreateTruncate);
    if (!output.IsOpen()) {
      std::fprintf(stderr, "updater-blockmap: cannot write %s\n", partPath.c_str());
      return 1;
    }
    written = delta::WriteBlockMap(input, output) && output.Flush();
  }
  if (!written || !platform::ReplaceFile(partPath, mapPath)) {
    platform::DeleteFile(partPath);
    std::fprintf(stderr, "updater-blockmap: no map written for %s\n", package.c_str());
    return 1;
  }
  return 0;
}
