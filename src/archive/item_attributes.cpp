#include "archive/item_attributes.h"

#include "platform/files.h"

namespace archive {
namespace {

constexpr std::uint32_t kDosAttributeBits = platform::kAttrReadOnly | platform::kAttrHidden |
                                            platform::kAttrSystem | platform::kAttrDirectory |
                                            platform::kAttrArchive;
constexpr std::uint32_t kUnixDirectoryBit = 1u << 30;   // S_IFDIR (040000) << 16
constexpr std::uint32_t kUnixOwnerWriteBit = 1u << 23;  // S_IWUSR (0200) << 16

bool IsDosLikeHost(std::uint32_t host) {
  return host == 0 || host == 7 || host == 11 || host == 14;
}

}  // namespace

std::uint32_t MapAttributes(std::uint32_t versionMadeBy, std::uint32_t externalAttributes) {
  const std::uint32_t host = (versionMadeBy >> 8) & 0xFF;
  if (IsDosLikeHost(host)) return externalAttributes & kDosAttributeBits;
  std::uint32_t attributes = platform::kAttrArchive;
  if ((externalAttributes & kUnixDirectoryBit) != 0) attributes |= platform::kAttrDirectory;
  if ((externalAttributes & kUnixOwnerWriteBit) == 0) attributes |= platform::kAttrReadOnly;
  return attributes;
}

std::uint32_t UnixMode(std::uint32_t versionMadeBy, std::uint32_t externalAttributes) {
  const std::uint32_t host = (versionMadeBy >> 8) & 0xFF;
  if (host != 3 && host != 19) return 0;
  return externalAttributes >> 16;
}

}  // namespace archive
