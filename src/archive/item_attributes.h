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

// The Unix mode (type and permission bits) in the upper 16 bits of the
// external attributes when the host is Unix (3) or macOS (19) and records
// one; else 0.
std::uint32_t UnixMode(std::uint32_t versionMadeBy, std::uint32_t externalAttributes);

// The POSIX file type bits of a mode, and the types the install knows.
inline constexpr std::uint32_t kUnixTypeMask = 0170000;
inline constexpr std::uint32_t kUnixRegular = 0100000;
inline constexpr std::uint32_t kUnixLink = 0120000;

}  // namespace archive
