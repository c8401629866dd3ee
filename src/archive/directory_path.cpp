#include "archive/directory_path.h"

#include "archive/zip_format.h"
#include "platform/files.h"
#include "platform/path.h"
#include "platform/text.h"

namespace archive {
namespace {

constexpr std::string_view kSeparators = "/\\";

void CreateIfMissing(const std::string& path) {
  const std::string native = platform::NativePath(path);
  if (!platform::GetFileStatus(native)) platform::CreateDirectory(native);
}

}  // namespace

bool EndsWithSeparator(std::string_view path) {
  return !path.empty() && platform::FindLastOf(path, kSeparators) == path.size() - 1;
}

std::string WithTrailingSeparator(std::string path) {
  if (!EndsWithSeparator(path)) path += platform::PathSeparator();
  return path;
}

bool IsAbsolutePath(std::string_view path) {
  return (!path.empty() && IsSeparator(path[0])) || (path.size() >= 2 && path[1] == ':');
}

SplitPath SplitAtLastSeparator(std::string_view path) {
  const std::size_t last = platform::FindLastOf(path, kSeparators);
  if (last == platform::kNotFound) return SplitPath{{}, path};
  return SplitPath{path.substr(0, last + 1), path.substr(last + 1)};
}

void CreateDirectoryPath(const std::optional<std::string_view>& base, std::string_view path) {
  const std::string prefix = base ? std::string(*base) : std::string();
  if (base) CreateIfMissing(prefix);
  if (path.empty()) return;
  const platform::CodePage codePage = platform::ActiveCodePage();
  for (std::size_t i = 0; i < path.size(); ++i) {
    const auto byte = static_cast<unsigned char>(path[i]);
    if (platform::IsLeadByte(codePage, byte) && i + 1 < path.size()) {
      ++i;  // a trail byte never separates
    } else if (i > 0 && IsSeparator(path[i])) {
      CreateIfMissing(prefix + std::string(path.substr(0, i)));
    }
  }
  CreateIfMissing(prefix + std::string(path));
}

}  // namespace archive
