// The package built from the previous one: where the program directory
// still holds the package of the last update and the server publishes the
// new package's block map, only the blocks the previous package lacks are
// fetched. Whatever goes wrong leaves the whole download to do the work.
#include <vector>

#include "app/update_run.h"
#include "delta/block_map.h"
#include "delta/block_match.h"
#include "http/address_beside.h"
#include "platform/files.h"
#include "platform/install_files.h"

namespace app {
namespace {

// The package is built here, beside the previous one, and kept after a close
// so that the next run fetches only what is still missing.
std::string BuildingOf(const std::string& packagePath) { return packagePath + ".blocks"; }

bool IsFile(const std::string& path) {
  const std::optional<platform::FileStatus> status = platform::GetFileStatus(path);
  return status && (status->attributes & platform::kAttrDirectory) == 0;
}

}  // namespace

std::optional<delta::BlockMap> UpdateRun::FetchBlockMap(const std::string& packagePath) {
  const std::string url = http::AddressBeside(m_plan.argument, delta::kBlockMapSuffix);
  const std::string mapPath = packagePath + delta::kBlockMapSuffix;
  const std::int64_t maxSize = m_downloader.maxSize;
  const std::int64_t exactSize = m_downloader.exactSize;
  m_downloader.maxSize = delta::kMaxBlockMapSize;
  m_downloader.exactSize = 0;
  const http::DownloadResult result = m_downloader.Download(url, mapPath, 1);
  m_downloader.maxSize = maxSize;
  m_downloader.exactSize = exactSize;
  std::optional<delta::BlockMap> map;
  if (LogDownload("GET", url, result == http::DOWNLOAD_OK, DownloadResultText(result))) {
    platform::File file = platform::File::Open(mapPath, platform::OpenMode::kRead);
    map = delta::ReadBlockMap(file);
    if (!map) m_log.Write("delta: the block map is damaged");
  }
  RemoveDownload(mapPath);
  return map;
}

UpdateRun::BlockResult UpdateRun::DownloadByBlocks(const std::string& packagePath,
                                                   std::int64_t size, http::HttpTime time) {
  // Without a previous package there is nothing to build from; one that is
  // already the package is for the whole download to find current.
  if (!IsFile(packagePath) || (size > 0 && http::FileIsCurrent(packagePath, size, time))) {
    return BlockResult::kNotBuilt;
  }
  const std::string building = BuildingOf(packagePath);
  const BlockResult result = BuildFromBlocks(packagePath, building, size, time);
  if (result == BlockResult::kNotBuilt) platform::DeleteFile(building);
  if (result == BlockResult::kNotBuilt && !m_shutdown.CloseRequested()) {
    m_log.Write("delta: not built, the package is downloaded whole");
  }
  return result;
}

UpdateRun::BlockResult UpdateRun::BuildFromBlocks(const std::string& packagePath,
                                                  const std::string& building, std::int64_t size,
                                                  http::HttpTime time) {
  const std::optional<delta::BlockMap> map = FetchBlockMap(packagePath);
  if (m_shutdown.CloseRequested()) return BlockResult::kStopped;
  // A signed size, or the server's, must be the map's.
  const std::int64_t expected = m_downloader.exactSize > 0 ? m_downloader.exactSize : size;
  if (!map || (expected > 0 && map->packageSize != expected)) return BlockResult::kNotBuilt;

  const delta::StopCheck stop = [this] { return m_shutdown.CloseRequested(); };
  platform::File previous = platform::File::Open(packagePath, platform::OpenMode::kReadNoLink);
  platform::File target = platform::File::Open(building, platform::OpenMode::kReadWriteKeep);
  delta::BlockSources sources(static_cast<std::size_t>(map->BlockCount()), delta::kFetch);
  if (!previous.IsOpen() || !target.IsOpen() ||
      !delta::FindBlocksInPlace(*map, target, sources, stop) ||
      !delta::FindBlocksIn(*map, previous, sources, stop)) {
    return m_shutdown.CloseRequested() ? BlockResult::kStopped : BlockResult::kNotBuilt;
  }
  std::vector<http::ByteSpan> spans;
  std::int64_t missing = 0;
  for (const delta::Span& span : delta::SpansToFetch(*map, sources)) {
    spans.push_back({span.offset, span.length});
    missing += span.length;
  }
  m_log.Write("delta: " + std::to_string(missing) + " of " + std::to_string(map->packageSize) +
              " bytes to fetch");
  if (!spans.empty()) {
    const http::DownloadResult fetched =
        m_downloader.DownloadRanges(m_plan.argument, target, map->packageSize, std::move(spans));
    LogDownload("GET ranges of", m_plan.argument, fetched == http::DOWNLOAD_OK,
                DownloadResultText(fetched));
    if (fetched == http::DOWNLOAD_STOPPED || m_shutdown.CloseRequested()) {
      return BlockResult::kStopped;
    }
    if (fetched != http::DOWNLOAD_OK) return BlockResult::kNotBuilt;
  }
  // Once every block is copied, and while the hash of the last pieces is
  // still being taken, the disk work the build leaves is set going beside
  // it instead of after it: the package's data starts on its way to the
  // disk (the install's sync would wait for all of it), and the previous
  // package, of no more use, is removed (freeing its space takes a while).
  // A package built takes its place; after a build that fails the whole
  // download does (and should that fail too, the next run downloads whole).
  const auto copied = [&] {
    platform::StartWriteback(target);
    previous.Close();
    platform::DeleteFile(packagePath);
  };
  const std::optional<delta::PackageHash> built =
      target.Truncate(map->packageSize)
          ? delta::AssemblePackage(*map, sources, previous, target, stop, copied)
          : std::nullopt;
  if (!built) {
    if (m_shutdown.CloseRequested()) return BlockResult::kStopped;
    m_log.Write("delta: the built package is not the one the map describes");
    return BlockResult::kNotBuilt;
  }
  // The server's time, for the up-to-date test of the next run.
  if (size > 0) {
    const platform::FileTime stamp = platform::UnixTimeToFileTime(time);
    target.SetTimes(nullptr, nullptr, &stamp);
  }
  target.Close();
  previous.Close();
  if (!platform::ReplaceFile(building, packagePath)) return BlockResult::kNotBuilt;
  // The map's hash of the package is the one its signature signs.
  m_packageDigest = *built;
  m_log.Write("delta: built from the previous package");
  return BlockResult::kBuilt;
}

}  // namespace app
