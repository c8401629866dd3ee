// The compiled resources as the system reads them: dialog template 102, icon
// group 128 and the version information, linked into this test's module from
// res/updater.rc.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/win32/windows_api.h"
#include "res/resource.h"

namespace {

constexpr WORD kChinesePrc = MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED);

// The bytes of one resource of this module in the Chinese (PRC) language.
std::vector<std::uint8_t> ResourceBytes(LPCSTR type, int id) {
  const HRSRC found = FindResourceExA(nullptr, type, MAKEINTRESOURCEA(id), kChinesePrc);
  if (found == nullptr) return {};
  const HGLOBAL loaded = LoadResource(nullptr, found);
  const auto* bytes = static_cast<const std::uint8_t*>(LockResource(loaded));
  if (bytes == nullptr) return {};
  return std::vector<std::uint8_t>(bytes, bytes + SizeofResource(nullptr, found));
}

// Reads a dialog template (DLGTEMPLATEEX and its DLGITEMTEMPLATEEX records).
class TemplateReader {
 public:
  explicit TemplateReader(const std::vector<std::uint8_t>& bytes) : bytes_(bytes) {}
  bool ok() const { return ok_; }
  std::uint16_t Word() {
    std::uint16_t v = 0;
    Copy(&v, 2);
    return v;
  }
  std::uint32_t Dword() {
    std::uint32_t v = 0;
    Copy(&v, 4);
    return v;
  }
  std::u16string String() {
    std::u16string s;
    for (std::uint16_t c = Word(); ok_ && c != 0; c = Word()) s.push_back(static_cast<char16_t>(c));
    return s;
  }
  // A name or ordinal field: 0xFFFF and an ordinal, or a string.
  std::u16string NameOrOrdinal(std::uint16_t& ordinal) {
    ordinal = 0;
    const std::size_t at = pos_;
    if (Word() == 0xFFFF) {
      ordinal = Word();
      return {};
    }
    pos_ = at;
    return String();
  }
  void AlignToDword() { pos_ = (pos_ + 3) & ~static_cast<std::size_t>(3); }
  void Skip(std::size_t n) { pos_ += n; }

 private:
  void Copy(void* out, std::size_t n) {
    if (pos_ + n > bytes_.size()) {
      ok_ = false;
      return;
    }
    std::memcpy(out, bytes_.data() + pos_, n);
    pos_ += n;
  }
  const std::vector<std::uint8_t>& bytes_;
  std::size_t pos_ = 0;
  bool ok_ = true;
};

std::u16string Lowercase(std::u16string s) {
  for (char16_t& c : s) {
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  }
  return s;
}

struct Item {
  std::uint32_t exStyle, style;
  std::int16_t x, y, cx, cy;
  std::uint32_t id;
  std::uint16_t classOrdinal;
  std::u16string className, text;
};

TEST(DialogTemplate, MatchesTheUpdateDialog) {
  const std::vector<std::uint8_t> bytes = ResourceBytes(RT_DIALOG, IDD_UPDATE_DIALOG);
  ASSERT_FALSE(bytes.empty()) << "no dialog 102 in Chinese (PRC)";
  TemplateReader r(bytes);
  ASSERT_EQ(r.Word(), 1u);       // dlgVer
  ASSERT_EQ(r.Word(), 0xFFFFu);  // signature of the extended form
  r.Dword();                     // help id
  EXPECT_EQ(r.Dword(), static_cast<std::uint32_t>(WS_EX_APPWINDOW));
  EXPECT_EQ(r.Dword(), static_cast<std::uint32_t>(DS_SETFONT | DS_MODALFRAME | WS_POPUP |
                                                  WS_VISIBLE | WS_CAPTION | WS_SYSMENU));
  const std::uint16_t itemCount = r.Word();
  r.Skip(4);  // x, y
  EXPECT_EQ(static_cast<std::int16_t>(r.Word()), 257);
  EXPECT_EQ(static_cast<std::int16_t>(r.Word()), 69);
  std::uint16_t ordinal = 0;
  EXPECT_EQ(r.NameOrOrdinal(ordinal), u"");  // no menu
  EXPECT_EQ(r.NameOrOrdinal(ordinal), u"");  // the dialog class
  EXPECT_EQ(r.String(), u"更新下载");
  EXPECT_EQ(r.Word(), 9u);  // points
  r.Word();                 // weight
  r.Skip(2);                // italic, charset
  EXPECT_EQ(r.String(), u"宋体");
  ASSERT_EQ(itemCount, 2u);

  std::vector<Item> items;
  for (int i = 0; i < itemCount; ++i) {
    r.AlignToDword();
    Item item{};
    r.Dword();  // help id
    item.exStyle = r.Dword();
    item.style = r.Dword();
    item.x = static_cast<std::int16_t>(r.Word());
    item.y = static_cast<std::int16_t>(r.Word());
    item.cx = static_cast<std::int16_t>(r.Word());
    item.cy = static_cast<std::int16_t>(r.Word());
    item.id = r.Dword();
    item.className = r.NameOrOrdinal(item.classOrdinal);
    std::uint16_t textOrdinal = 0;
    item.text = r.NameOrOrdinal(textOrdinal);
    r.Skip(r.Word());  // creation data
    items.push_back(item);
  }
  ASSERT_TRUE(r.ok());

  const Item& status = items[0];
  EXPECT_EQ(status.id, static_cast<std::uint32_t>(IDC_STATUS_TEXT));
  EXPECT_EQ(status.classOrdinal, 0x0082u);  // the static class
  EXPECT_EQ(status.text, u"链接服务器，请等待...");
  EXPECT_EQ(status.style, static_cast<std::uint32_t>(WS_CHILD | WS_VISIBLE | WS_GROUP | SS_CENTER));
  EXPECT_EQ(status.exStyle, 0u);
  EXPECT_EQ((std::vector<int>{status.x, status.y, status.cx, status.cy}),
            (std::vector<int>{27, 7, 200, 8}));

  const Item& progress = items[1];
  EXPECT_EQ(progress.id, static_cast<std::uint32_t>(IDC_DOWNLOAD_PROGRESS));
  // Class names are case-insensitive; the resource compiler writes capitals.
  EXPECT_EQ(Lowercase(progress.className), u"msctls_progress32");
  EXPECT_EQ(progress.text, u"Progress1");
  EXPECT_EQ(progress.style, static_cast<std::uint32_t>(WS_CHILD | WS_VISIBLE | WS_BORDER));
  EXPECT_EQ(progress.exStyle, 0u);
  EXPECT_EQ((std::vector<int>{progress.x, progress.y, progress.cx, progress.cy}),
            (std::vector<int>{7, 32, 243, 14}));
}

#pragma pack(push, 2)
struct GroupIconEntry {
  BYTE width, height, colorCount, reserved;
  WORD planes, bitCount;
  DWORD bytesInRes;
  WORD id;
};
#pragma pack(pop)
static_assert(sizeof(GroupIconEntry) == 14);

TEST(IconGroup, HoldsThreeImagesOfEightBitsPerPixel) {
  const std::vector<std::uint8_t> group = ResourceBytes(RT_GROUP_ICON, IDI_UPDATER);
  ASSERT_GE(group.size(), 6u);
  WORD header[3];
  std::memcpy(header, group.data(), sizeof header);
  EXPECT_EQ(header[1], 1u);  // icons, not cursors
  ASSERT_EQ(header[2], 3u);
  ASSERT_EQ(group.size(), 6u + 3 * sizeof(GroupIconEntry));
  std::vector<int> sizes;
  for (int i = 0; i < 3; ++i) {
    GroupIconEntry entry;
    std::memcpy(&entry, group.data() + 6 + i * sizeof entry, sizeof entry);
    sizes.push_back(entry.width);
    EXPECT_EQ(entry.height, entry.width);
    EXPECT_EQ(entry.bitCount, 8u);
    // The image itself: a bitmap header of the same size and depth (its
    // height counts the colour image and the mask).
    const std::vector<std::uint8_t> image = ResourceBytes(RT_ICON, entry.id);
    ASSERT_EQ(image.size(), entry.bytesInRes);
    BITMAPINFOHEADER bitmap;
    ASSERT_GE(image.size(), sizeof bitmap);
    std::memcpy(&bitmap, image.data(), sizeof bitmap);
    EXPECT_EQ(bitmap.biWidth, entry.width);
    EXPECT_EQ(bitmap.biHeight, 2 * entry.width);
    EXPECT_EQ(bitmap.biBitCount, 8u);
  }
  EXPECT_EQ(sizes, (std::vector<int>{16, 32, 48}));
  // The system makes an icon of it at its standard size.
  HICON icon = LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_UPDATER));
  EXPECT_NE(icon, nullptr);
}

std::wstring VersionString(const std::vector<std::uint8_t>& info, const wchar_t* key) {
  void* value = nullptr;
  UINT length = 0;
  std::wstring path = std::wstring(L"\\StringFileInfo\\080404b0\\") + key;
  if (!VerQueryValueW(info.data(), path.c_str(), &value, &length) || value == nullptr) return {};
  return std::wstring(static_cast<const wchar_t*>(value));
}

TEST(VersionInformation, IsVersionOneZeroZeroOneInChinese) {
  char path[MAX_PATH];
  ASSERT_GT(GetModuleFileNameA(nullptr, path, MAX_PATH), 0u);
  const DWORD size = GetFileVersionInfoSizeA(path, nullptr);
  ASSERT_GT(size, 0u);
  std::vector<std::uint8_t> info(size);
  ASSERT_TRUE(GetFileVersionInfoA(path, 0, size, info.data()));

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  ASSERT_NE(fixed, nullptr);
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwFileVersionLS, 0x00000001u);
  EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwProductVersionLS, 0x00000001u);

  WORD* translation = nullptr;
  ASSERT_TRUE(VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation",
                             reinterpret_cast<void**>(&translation), &length));
  ASSERT_EQ(length, 4u);
  EXPECT_EQ(translation[0], 0x0804u);
  EXPECT_EQ(translation[1], 1200u);

  EXPECT_EQ(VersionString(info, L"FileVersion"), L"1, 0, 0, 1");
  EXPECT_EQ(VersionString(info, L"ProductVersion"), L"1, 0, 0, 1");
  EXPECT_FALSE(VersionString(info, L"FileDescription").empty());
  EXPECT_FALSE(VersionString(info, L"ProductName").empty());
}

}  // namespace
