// The platform attribute flags of an item, from the central entry's host
// system and external attributes.
#pragma once

#include <cstdint>

namespace archive {

// `versionMadeBy` is the 16-bit field of the central entry; its high byte
// names the host. DOS-like hosts (0 FAT, 7, 11 NTFS, 14 VFAT) keep the DOS
// attribute byte in the low byte of `externalAttributes`; every other host is
// taken to keep a Unix mode in the upper 16 bits.
std::uint32_t MapAttributes(std::uint32_t versionMadeBy, std::uint32_t externalAttributes);

}  // namespace archive
