// The block map and the build of a package from a previous one: maps that
// are not exactly a map of this version are refused, and a package is rebuilt from
// what a previous package holds and the spans fetched, whatever moved.
#include "delta/block_match.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "delta/block_map.h"
#include "delta/weak_checksum.h"
#include "platform/files.h"
#include "support/scratch_dir.h"

namespace {

using testsupport::ReadFileBytes;
using testsupport::WriteFileBytes;

std::string RandomBytes(std::size_t size, unsigned seed) {
  std::mt19937 generator(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(generator());
  return bytes;
}

std::string MapOf(const testsupport::ScratchDir& dir, const std::string& package) {
  EXPECT_TRUE(WriteFileBytes(dir.Join("p"), package));
  platform::File in = platform::File::Open(dir.Join("p"), platform::OpenMode::kRead);
  platform::File out = platform::File::Open(dir.Join("m"), platform::OpenMode::kCreateTruncate);
  EXPECT_TRUE(delta::WriteBlockMap(in, out));
  out.Close();
  return ReadFileBytes(dir.Join("m"));
}

std::optional<delta::BlockMap> ReadMap(const testsupport::ScratchDir& dir,
                                       const std::string& bytes) {
  EXPECT_TRUE(WriteFileBytes(dir.Join("read"), bytes));
  platform::File file = platform::File::Open(dir.Join("read"), platform::OpenMode::kRead);
  return delta::ReadBlockMap(file);
}

TEST(BlockMap, RefusesAnythingButAWholeMapOfThisVersion) {
  testsupport::ScratchDir dir;
  const std::string good = MapOf(dir, RandomBytes(5000, 1));
  ASSERT_EQ(good.size(), static_cast<std::size_t>(delta::BlockMapSize(3)));
  const auto set = [&](std::size_t at, std::string bytes) {
    return good.substr(0, at) + bytes + good.substr(at + bytes.size());
  };
  struct Case {
    const char* name;
    std::string bytes;
  };
  const Case refused[] = {
      {"empty", ""},
      {"another magic", set(0, "KVBN")},
      {"version 1", set(4, std::string("\1", 1))},
      {"block size not a power of two", set(8, std::string("\1\10", 2))},
      {"block size below 2 KiB", set(8, std::string("\0\4", 2))},
      {"package size 0", set(12, std::string(8, '\0'))},
      {"more blocks than the header's", set(12, std::string("\1\30", 2))},
      {"one byte short", good.substr(0, good.size() - 1)},
      {"one byte more", good + "x"},
      {"a block's hash changed", set(25, "?")},
      {"the package hash changed", set(good.size() - 20, "?")},
  };
  for (const Case& c : refused) EXPECT_FALSE(ReadMap(dir, c.bytes)) << c.name;

  const std::optional<delta::BlockMap> map = ReadMap(dir, good);
  ASSERT_TRUE(map);
  EXPECT_EQ(map->blockSize, delta::kMinBlockSize);
  EXPECT_EQ(map->packageSize, 5000);
  EXPECT_EQ(map->BlockLength(2), 5000u - 2 * delta::kMinBlockSize);
  // Fed a byte at a time, the same map.
  delta::BlockMapReader reader;
  for (const char c : good) ASSERT_TRUE(reader.Feed(reinterpret_cast<const std::uint8_t*>(&c), 1));
  const std::optional<delta::BlockMap> fed = reader.Finish();
  ASSERT_TRUE(fed);
  EXPECT_EQ(fed->strong, map->strong);
  EXPECT_EQ(fed->packageHash, map->packageHash);
  // The block size grows with the package, so that no map holds more than
  // kMaxBlocks blocks.
  EXPECT_EQ(delta::BlockSizeFor(std::int64_t{1} << 30), 4096u);
  EXPECT_EQ(delta::BlockSizeFor(0), 0u);
  EXPECT_EQ(delta::BlockSizeFor(delta::kMaxBlocks * delta::kMaxBlockSize + 1), 0u);
}

// Windows shorter than, equal to and between the sixteen bytes the sums take
// at a time; the bytes at their largest where the package ends.
TEST(WeakChecksum, RollingEqualsComputingAnewAtEveryOffset) {
  const std::string bytes = RandomBytes(3000, 2) + std::string(600, '\xff');
  const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
  for (const std::size_t window : {1u, 15u, 16u, 17u, 700u}) {
    std::uint32_t a = 0;
    std::uint32_t b = 0;
    for (std::size_t i = 0; i < window; ++i) {
      a += data[i];
      b += static_cast<std::uint32_t>(window - i) * data[i];
    }
    delta::WeakChecksum rolled;
    rolled.Reset(data, window);
    ASSERT_EQ(rolled.value(), (a & 0xFFFFu) | (b << 16)) << window;
    for (std::size_t at = 1; at + window <= bytes.size(); ++at) {
      rolled.Roll(data[at - 1], data[at + window - 1]);
      delta::WeakChecksum fresh;
      fresh.Reset(data + at, window);
      ASSERT_EQ(rolled.value(), fresh.value()) << window << " at " << at;
    }
  }
}

// Each row: the previous package, the new one, and how many bytes of the new
// one at most are fetched; the build must end with the new package whole,
// from the previous one and the fetched spans, the second time only with
// what a first build left in place.
TEST(BuildFromBlocks, RebuildsThePackageFetchingOnlyWhatThePreviousLacks) {
  const std::size_t kBlock = delta::kMinBlockSize;
  const std::string base = RandomBytes(100 * kBlock + 777, 3);
  std::string changed = base;
  for (std::size_t item = 5; item < base.size(); item += 20 * kBlock) {
    changed.replace(item, 100, RandomBytes(100, static_cast<unsigned>(item)));
  }
  struct Case {
    const char* name;
    std::string previous;
    std::string package;
    std::size_t fetchedAtMost;
  };
  const Case cases[] = {
      {"nothing changed", base, base, 0},
      {"a few items changed", base, changed, 5 * 2 * kBlock},
      {"everything changed", base, RandomBytes(base.size(), 4), base.size()},
      {"inserted at the front", base, RandomBytes(333, 5) + base, 2 * kBlock},
      {"cut at the front", base, base.substr(1000), kBlock + 777},
      {"an empty previous package", "", base, base.size()},
      // Equal blocks are found once and taken for all of them.
      {"many equal blocks", std::string(3 * kBlock, 'a'), std::string(50 * kBlock, 'a'), 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testsupport::ScratchDir dir;
    const std::optional<delta::BlockMap> map = ReadMap(dir, MapOf(dir, c.package));
    ASSERT_TRUE(map);
    ASSERT_TRUE(WriteFileBytes(dir.Join("previous"), c.previous));
    platform::File previous = platform::File::Open(dir.Join("previous"), platform::OpenMode::kRead);
    platform::File target =
        platform::File::Open(dir.Join("target"), platform::OpenMode::kReadWriteKeep);
    delta::BlockSources sources(static_cast<std::size_t>(map->BlockCount()), delta::kFetch);
    ASSERT_TRUE(delta::FindBlocksInPlace(*map, target, sources, nullptr));
    ASSERT_TRUE(delta::FindBlocksIn(*map, previous, sources, nullptr));
    const std::vector<delta::Span> spans = delta::SpansToFetch(*map, sources);
    std::int64_t fetched = 0;
    for (std::size_t i = 0; i < spans.size(); ++i) {
      fetched += spans[i].length;
      if (i > 0) {
        EXPECT_GT(spans[i].offset - spans[i - 1].offset - spans[i - 1].length, 128);
      }
      // The first half of the spans arrives before a break.
      if (2 * i < spans.size()) {
        const auto at = static_cast<std::size_t>(spans[i].offset);
        ASSERT_TRUE(target.Seek(spans[i].offset));
        ASSERT_TRUE(target.Write(c.package.data() + at, static_cast<std::size_t>(spans[i].length)));
      }
    }
    EXPECT_LE(fetched, static_cast<std::int64_t>(c.fetchedAtMost));

    // After the break only the second half is still to come.
    delta::BlockSources again(sources.size(), delta::kFetch);
    ASSERT_TRUE(delta::FindBlocksInPlace(*map, target, again, nullptr));
    ASSERT_TRUE(delta::FindBlocksIn(*map, previous, again, nullptr));
    const std::vector<delta::Span> left = delta::SpansToFetch(*map, again);
    ASSERT_EQ(left.size(), spans.size() / 2);
    for (std::size_t i = 0; i < left.size(); ++i) {
      const delta::Span& span = spans[spans.size() - left.size() + i];
      EXPECT_TRUE(left[i].offset == span.offset && left[i].length == span.length) << i;
      ASSERT_TRUE(target.Seek(span.offset));
      ASSERT_TRUE(
          target.Write(c.package.data() + span.offset, static_cast<std::size_t>(span.length)));
    }
    ASSERT_TRUE(target.Truncate(map->packageSize));
    // Told once when the previous package is read no more.
    int copied = 0;
    EXPECT_TRUE(delta::AssemblePackage(*map, again, previous, target, nullptr, [&] { ++copied; }));
    EXPECT_EQ(copied, 1);
    target.Close();
    EXPECT_EQ(ReadFileBytes(dir.Join("target")) == c.package, true);
  }
}

// A build whose result is not the package the map describes is refused, and
// a stop asked for ends each step.
TEST(BuildFromBlocks, RefusesAWrongResultAndStopsWhenAsked) {
  testsupport::ScratchDir dir;
  const std::string package = RandomBytes(10 * delta::kMinBlockSize, 6);
  const std::optional<delta::BlockMap> map = ReadMap(dir, MapOf(dir, package));
  ASSERT_TRUE(map);
  ASSERT_TRUE(WriteFileBytes(dir.Join("previous"), package));
  platform::File previous = platform::File::Open(dir.Join("previous"), platform::OpenMode::kRead);
  platform::File target =
      platform::File::Open(dir.Join("target"), platform::OpenMode::kReadWriteKeep);
  delta::BlockSources sources(static_cast<std::size_t>(map->BlockCount()), delta::kFetch);
  const delta::StopCheck stop = [] { return true; };
  EXPECT_FALSE(delta::FindBlocksIn(*map, previous, sources, stop));
  EXPECT_FALSE(delta::AssemblePackage(*map, sources, previous, target, stop,
                                      [] { ADD_FAILURE() << "the previous package let go"; }));
  ASSERT_TRUE(WriteFileBytes(dir.Join("target2"), package));
  platform::File full =
      platform::File::Open(dir.Join("target2"), platform::OpenMode::kReadWriteKeep);
  EXPECT_FALSE(delta::FindBlocksInPlace(*map, full, sources, stop));
  // Every block "fetched", but the fetched bytes are not the package's.
  ASSERT_TRUE(target.Truncate(map->packageSize));
  EXPECT_FALSE(delta::AssemblePackage(*map, sources, previous, target, nullptr));

  // A block right after a found one is taken on its weak checksum alone:
  // where the previous package holds other bytes of the same weak checksum
  // there (a byte 64 up, the byte 1024 further 64 down), the block is taken
  // and the build is refused as a whole.
  const std::size_t kBlock = delta::kMinBlockSize;
  std::string collided = package;
  std::size_t at = 3 * kBlock;
  while (static_cast<unsigned char>(collided[at]) > 191 ||
         static_cast<unsigned char>(collided[at + 1024]) < 64) {
    ++at;
  }
  ASSERT_LT(at + 1024, 4 * kBlock);
  collided[at] = static_cast<char>(collided[at] + 64);
  collided[at + 1024] = static_cast<char>(collided[at + 1024] - 64);
  ASSERT_TRUE(WriteFileBytes(dir.Join("collided"), collided));
  platform::File other = platform::File::Open(dir.Join("collided"), platform::OpenMode::kRead);
  delta::BlockSources found(sources.size(), delta::kFetch);
  ASSERT_TRUE(delta::FindBlocksIn(*map, other, found, nullptr));
  EXPECT_EQ(found[3], static_cast<std::int64_t>(3 * kBlock));
  platform::File built =
      platform::File::Open(dir.Join("built"), platform::OpenMode::kReadWriteKeep);
  ASSERT_TRUE(built.Truncate(map->packageSize));
  EXPECT_FALSE(delta::AssemblePackage(*map, found, other, built, nullptr));
}

}  // namespace
