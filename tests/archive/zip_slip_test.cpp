// Zip-slip: archives whose item names try every way the cleaning rules know
// to climb out of the target directory - both separators and their mixes,
// drive and UNC-like prefixes, dir-up segments at the start, inside and at
// the end, "." segments before them, and names near and past the 260-byte
// limit. The archives are written here, item by item, so any name can be
// stored. Each is extracted the way the install does it (describe, then
// extract under the cleaned name) into a target two levels below a scratch
// directory; afterwards nothing may exist outside the target, and every item
// that was written must sit at the target plus its cleaned name with its own
// bytes.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "archive/archive.h"
#include "platform/files.h"
#include "support/scratch_dir.h"

namespace {
namespace fs = std::filesystem;

std::uint32_t Crc32(const std::string& bytes) {
  static const std::array<std::uint32_t, 256> table = [] {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
      std::uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[i] = c;
    }
    return t;
  }();
  std::uint32_t crc = 0xFFFFFFFFu;
  for (const char ch : bytes)
    crc = table[(crc ^ static_cast<unsigned char>(ch)) & 0xFF] ^ (crc >> 8);
  return crc ^ 0xFFFFFFFFu;
}

struct StoredItem {
  std::string name;  // as stored, any bytes
  std::string data;
  bool directory = false;
};

void Put16(std::string& out, std::uint32_t v) {
  out += static_cast<char>(v & 0xFF);
  out += static_cast<char>((v >> 8) & 0xFF);
}
void Put32(std::string& out, std::uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

// A zip archive of stored items made on a Unix host (so the directory flag
// comes from the mode bits), dated 2020-01-02 03:04:06.
std::string ZipOf(const std::vector<StoredItem>& items) {
  constexpr std::uint32_t kDosTime = (3 << 11) | (4 << 5) | 3;
  constexpr std::uint32_t kDosDate = ((2020 - 1980) << 9) | (1 << 5) | 2;
  std::string out;
  std::string central;
  for (const StoredItem& item : items) {
    const auto offset = static_cast<std::uint32_t>(out.size());
    const std::uint32_t crc = Crc32(item.data);
    const auto size = static_cast<std::uint32_t>(item.data.size());
    const auto nameLength = static_cast<std::uint32_t>(item.name.size());
    Put32(out, 0x04034b50);
    Put16(out, 20);  // version needed
    Put16(out, 0);   // flags
    Put16(out, 0);   // stored
    Put16(out, kDosTime);
    Put16(out, kDosDate);
    Put32(out, crc);
    Put32(out, size);
    Put32(out, size);
    Put16(out, nameLength);
    Put16(out, 0);
    out += item.name;
    out += item.data;

    Put32(central, 0x02014b50);
    Put16(central, 3 << 8 | 20);  // made by: Unix
    Put16(central, 20);
    Put16(central, 0);
    Put16(central, 0);
    Put16(central, kDosTime);
    Put16(central, kDosDate);
    Put32(central, crc);
    Put32(central, size);
    Put32(central, size);
    Put16(central, nameLength);
    Put16(central, 0);  // extra
    Put16(central, 0);  // comment
    Put16(central, 0);  // disk
    Put16(central, 0);  // internal attributes
    Put32(central, (item.directory ? 040755u : 0100644u) << 16);
    Put32(central, offset);
    central += item.name;
  }
  const auto centralOffset = static_cast<std::uint32_t>(out.size());
  out += central;
  Put32(out, 0x06054b50);
  Put16(out, 0);
  Put16(out, 0);
  Put16(out, static_cast<std::uint32_t>(items.size()));
  Put16(out, static_cast<std::uint32_t>(items.size()));
  Put32(out, static_cast<std::uint32_t>(central.size()));
  Put32(out, centralOffset);
  Put16(out, 0);
  return out;
}

// Every combination of a prefix, a climb and an ending, and a few names
// made by hand. Segments such as "..." and ".. " are left out: they are plain
// names to the cleaning rules, but Windows trims trailing dots and blanks, so
// its file layer cannot reach what they would create (the Linux fault tests
// run them through the updater).
std::vector<std::string> HostileNames() {
  const std::vector<std::string> prefixes = {"",
                                             "/",
                                             "\\",
                                             "//",
                                             "\\\\",
                                             "C:",
                                             "C:\\",
                                             "C:/",
                                             "z:",
                                             "C:C:",
                                             "::",
                                             "\\\\server\\share\\",
                                             "//server/share/",
                                             "\\\\?\\C:\\",
                                             "//?/UNC/srv/s/",
                                             "\\\\.\\",
                                             "/\\/\\",
                                             "C:\\\\"};
  const std::vector<std::string> climbs = {"",
                                           "../",
                                           "..\\",
                                           "../../",
                                           "..\\..\\",
                                           "..//",
                                           "..\\\\",
                                           "../..\\",
                                           "..\\../",
                                           "./../",
                                           ".\\..\\",
                                           "././../",
                                           "a/../../",
                                           "a\\..\\..\\",
                                           "a/..\\../",
                                           "a\\../..\\",
                                           "x/./../../",
                                           "x/y/../../../",
                                           "a/b/c/../../../../../",
                                           "%2e%2e/",
                                           "../../../../../../../../../../../../"};
  const std::vector<std::string> endings = {"up.txt", "dir/up.txt", "dir\\up.txt", "..",
                                            "x/..",   "x\\..",      "./..",        ".//.."};
  std::vector<std::string> names;
  for (const std::string& p : prefixes) {
    for (const std::string& c : climbs) {
      for (const std::string& e : endings) names.push_back(p + c + e);
    }
  }
  std::string deep;
  while (deep.size() < 240) deep += "../";
  names.push_back(deep + "deep.txt");                      // below 260 bytes
  names.push_back(deep + deep + "deeper.txt");             // past 260 bytes
  names.push_back(std::string(250, 'n') + "/../../x");     // the climb near the limit
  names.push_back(std::string(258, 'm') + "/..");          // ".." as the last bytes that fit
  names.push_back("a/.." + std::string(300, '/') + "..");  // a run of separators
  names.push_back("\x81\\..\\..\\gbk.txt");                // a GBK lead byte before "\"
  names.push_back("\x81/../../gbk2.txt");
  names.push_back(std::string("nul.txt\0/../../../x", 19));
  return names;
}

// `path` (generic form, relative to the scratch root) lies inside `target`.
bool Inside(const std::string& path, const std::string& target) {
  return path.size() > target.size() && path.compare(0, target.size(), target) == 0 &&
         path[target.size()] == '/';
}

class ZipSlipTest : public testing::TestWithParam<bool> {};

TEST_P(ZipSlipTest, NothingIsWrittenOutsideTheTarget) {
  const bool directories = GetParam();
  const std::vector<std::string> names = HostileNames();
  ASSERT_GT(names.size(), 3000u);
  std::vector<StoredItem> items;
  for (std::size_t i = 0; i < names.size(); ++i) {
    std::string name = names[i];
    if (directories && name.back() != '/' && name.back() != '\\') name += '/';
    items.push_back({name, directories ? "" : "item " + std::to_string(i), directories});
  }

  testsupport::ScratchDir scratch;
  // The archive sits beside the target's parent, where a climb of one or two
  // levels would land.
  const std::string archivePath = scratch.Join("hostile.zip");
  ASSERT_TRUE(testsupport::WriteFileBytes(archivePath, ZipOf(items)));
  fs::create_directories(scratch.Join("p"));
  const std::string target = scratch.Join("p/target");

  ArchivePtr handle(ArchiveOpen(archivePath.c_str(), nullptr));
  ASSERT_TRUE(handle);
  ASSERT_EQ(ArchiveSetTargetDir(handle.get(), target.c_str()), ARCHIVE_OK);
  ArchiveItem item;
  ASSERT_EQ(ArchiveGetItem(handle.get(), -1, &item), ARCHIVE_OK);
  ASSERT_EQ(item.index, static_cast<std::int32_t>(items.size()));

  // Where the cleaned name lands (with "/" and "\\", "./" and "//" naming the
  // same file in several ways) -> the bytes of the last item written there.
  std::map<std::string, std::string> written;
  std::map<ArchiveResult, int> results;
  for (std::int32_t i = 0; i < item.index; ++i) {
    ArchiveItem described;
    const ArchiveResult description = ArchiveGetItem(handle.get(), i, &described);
    // A stored name of 260 bytes or more is refused before it is cleaned.
    if (description == ARCHIVE_PATH_TOO_LONG) {
      EXPECT_GE(items[static_cast<std::size_t>(i)].name.size(), kArchivePathSize);
      ++results[description];
      continue;
    }
    ASSERT_EQ(description, ARCHIVE_OK) << i;
    const ArchiveResult result = ArchiveExtractItem(handle.get(), i, described.name);
    ++results[result];
    EXPECT_TRUE(result == ARCHIVE_OK || result == ARCHIVE_FILE_OPEN_FAILED ||
                result == ARCHIVE_PATH_TOO_LONG)
        << items[static_cast<std::size_t>(i)].name << " gave " << result;
    if (result == ARCHIVE_OK && !directories) {
      const fs::path path(platform::NativePath(target + "/" + described.name));
      written[path.lexically_normal().string()] = items[static_cast<std::size_t>(i)].data;
    }
  }
  ASSERT_EQ(ArchiveClose(handle.release()), ARCHIVE_OK);

  for (const auto& entry : fs::recursive_directory_iterator(scratch.path())) {
    const std::string rel = fs::relative(entry.path(), scratch.path()).generic_string();
    EXPECT_TRUE(rel == "hostile.zip" || rel == "p" || rel == "p/target" || Inside(rel, "p/target"))
        << "outside the target: " << rel;
  }
  // Most names keep something below the target; those that keep nothing that
  // names a file are refused.
  if (directories) {
    EXPECT_GT(results[ARCHIVE_OK], static_cast<int>(names.size()) / 2);
  } else {
    EXPECT_GT(results[ARCHIVE_OK], static_cast<int>(names.size()) / 4);
    EXPECT_GE(written.size(), 10u);
    for (const auto& [path, bytes] : written) {
      EXPECT_EQ(testsupport::ReadFileBytes(path), bytes) << path;
    }
  }
  std::printf("zip-slip (%s): %zu hostile names, %d written, %d refused\n",
              directories ? "directories" : "files", names.size(), results[ARCHIVE_OK],
              static_cast<int>(names.size()) - results[ARCHIVE_OK]);
}

INSTANTIATE_TEST_SUITE_P(Items, ZipSlipTest, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& param) {
                           return param.param ? std::string("Directories") : std::string("Files");
                         });

}  // namespace
