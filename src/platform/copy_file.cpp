#include <vector>

#include "platform/files.h"
#include "platform/install_files.h"

namespace platform {

bool CopyToNewFile(File& source, const std::string& to, const CopySeen& seen) {
  if (!source.IsOpen()) return false;
  bool copied = false;
  {
    File copy = CreateNewFile(to, 0, 0);
    if (!copy.IsOpen()) return false;
    std::vector<std::uint8_t> buffer(1 << 18);
    std::int64_t n = 0;
    while ((n = source.Read(buffer.data(), buffer.size())) > 0 &&
           copy.Write(buffer.data(), static_cast<std::size_t>(n))) {
      if (seen) seen(buffer.data(), static_cast<std::size_t>(n));
    }
    copied = n == 0;
  }
  if (!copied) DeleteFile(to);
  return copied;
}

}  // namespace platform
