// Path texts of the facade, where "/" and "\\" both separate, and the creation
// of directory paths level by level.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace archive {

// Whether the last character (of the active code page) is a separator.
bool EndsWithSeparator(std::string_view path);
// `path`, with the system's separator appended unless it ends in one.
std::string WithTrailingSeparator(std::string path);
// Absolute: the first byte is a separator, or the second byte is ":".
bool IsAbsolutePath(std::string_view path);

// `path` split after its last separator: {directory part with the separator,
// file part}; the directory part is empty when there is no separator.
struct SplitPath {
  std::string_view directory;
  std::string_view file;
};
SplitPath SplitAtLastSeparator(std::string_view path);

// Creates `base` (one level) when it is missing, then base + each leading
// part of `path` that ends before a separator, then base + path, top-down and
// each only when nothing of that name exists. `base` already ends in a
// separator; the texts are joined as they are. Failures are not reported: they
// show when the file below cannot be created.
void CreateDirectoryPath(const std::optional<std::string_view>& base, std::string_view path);

}  // namespace archive
