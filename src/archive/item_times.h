// The three times of an item: the central entry's DOS date and time (local
// time), replaced by the times of the extended-timestamp block ("UT") of the
// local extra field where that block holds them.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "platform/files.h"

namespace archive {

struct ItemTimes {
  platform::FileTime accessTime = 0;
  platform::FileTime creationTime = 0;
  platform::FileTime modificationTime = 0;
};

// The calendar time of a DOS date and time as a file time, without any time
// zone applied; nothing when it is not a valid calendar time (month 0, day 31
// of a 30-day month, hour 24, second 60, ...).
std::optional<platform::FileTime> DosDateTimeToFileTime(std::uint16_t date, std::uint16_t time);

// All three times from `dosDateTime` (date in the high 16 bits, time in the
// low 16 bits), read as local time and converted to UTC. An invalid DOS time
// gives 1980-01-01 00:00 local time.
ItemTimes TimesFromDos(std::uint32_t dosDateTime);

// Replaces the times that the first extended-timestamp block of `localExtra`
// holds: modification (flag bit 0), access (bit 1) and creation (bit 2), each
// a signed 32-bit count of seconds since 1970 in UTC. A flag whose time lies
// beyond the block or the field is ignored, as is every later one; nothing
// beyond `localExtra` is read. A field of 4 bytes or less is not examined.
void ApplyExtendedTimestamp(std::span<const std::uint8_t> localExtra, ItemTimes& times);

}  // namespace archive
