#include "install/install_names.h"

#include <charconv>

#include "platform/text.h"

namespace install {
namespace {

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Whether `part` begins with `name`, in any case.
bool BeginsWith(std::string_view part, std::string_view name) {
  if (part.size() < name.size()) return false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (Lower(part[i]) != name[i]) return false;
  }
  return true;
}

// Names that Windows opens as a device, whatever their extension ("NUL.txt",
// "com1.dll"), and names with a stream separator ("a.dll:x"): a package
// holding one would write to a device or a hidden stream there, so the plan
// refuses them on every system alike.
bool IsDeviceOrStreamPart(const std::string& part) {
  if (part.find(':') != std::string::npos) return true;
  std::string base = part.substr(0, part.find('.'));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  for (char& c : base) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL" || base == "CONIN$" ||
      base == "CONOUT$") {
    return true;
  }
  return base.size() == 4 && (base.starts_with("COM") || base.starts_with("LPT")) &&
         base[3] >= '1' && base[3] <= '9';
}

}  // namespace

std::vector<std::string> SplitName(std::string_view name) {
  const platform::CodePage codePage = platform::ActiveCodePage();
  std::vector<std::string> parts;
  std::string part;
  for (std::size_t i = 0; i < name.size(); ++i) {
    const auto byte = static_cast<unsigned char>(name[i]);
    if (platform::IsLeadByte(codePage, byte) && i + 1 < name.size()) {
      part.append(name.substr(i, 2));
      ++i;
    } else if (byte == '/' || byte == '\\') {
      if (!part.empty()) parts.push_back(std::move(part));
      part.clear();
    } else {
      part.push_back(static_cast<char>(byte));
    }
  }
  if (!part.empty()) parts.push_back(std::move(part));
  return parts;
}

bool IsPlainPart(const std::string& part) {
  return part != "." && part != ".." && !IsDeviceOrStreamPart(part);
}

bool IsOwnName(std::string_view part) {
  for (const std::string_view name :
       {kJournalName, kStagingName, std::string_view(kPackageName),
        std::string_view(kLocalCopyName), std::string_view(kInstalledSignatureName),
        std::string_view(kLogName)}) {
    if (BeginsWith(part, name)) return true;
  }
  return false;
}

bool IsStagingName(std::string_view name) {
  if (!name.starts_with(kStagingName)) return false;
  name.remove_prefix(kStagingName.size());
  if (name.empty()) return true;
  int n = 0;
  const char* const end = name.data() + name.size();
  return name.size() >= 2 && name.size() <= 3 && name[0] == '.' && name[1] != '0' &&
         std::from_chars(name.data() + 1, end, n).ptr == end && n > 0 && n < kStagingNamesTried;
}

bool IsJournalPath(std::string_view path) {
  if (path.empty() || path[0] == '/' || path[0] == '\\') return false;
  const std::vector<std::string> parts = SplitName(path);
  for (const std::string& part : parts) {
    if (!IsPlainPart(part)) return false;
  }
  return !parts.empty() && !BeginsWith(parts[0], kJournalName) &&
         !BeginsWith(parts[0], kStagingName);
}

}  // namespace install
