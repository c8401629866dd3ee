#include "archive/item_times.h"

#include <algorithm>

namespace archive {
namespace {

constexpr std::uint16_t kDosEpochDate = (1 << 5) | 1;   // 1980-01-01
constexpr std::uint16_t kExtendedTimestampId = 0x5455;  // "UT"

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Days from 1970-01-01 to the given date of the proleptic Gregorian calendar.
std::int64_t DaysFromCivil(int year, int month, int day) {
  const int y = month <= 2 ? year - 1 : year;
  const int era = (y >= 0 ? y : y - 399) / 400;
  const int yearOfEra = y - era * 400;
  const int dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return static_cast<std::int64_t>(era) * 146097 + dayOfEra - 719468;
}

std::uint16_t ReadU16(std::span<const std::uint8_t> bytes, std::size_t at) {
  return static_cast<std::uint16_t>(bytes[at] | (bytes[at + 1] << 8));
}

std::int32_t ReadI32(std::span<const std::uint8_t> bytes, std::size_t at) {
  const std::uint32_t value = static_cast<std::uint32_t>(bytes[at]) |
                              (static_cast<std::uint32_t>(bytes[at + 1]) << 8) |
                              (static_cast<std::uint32_t>(bytes[at + 2]) << 16) |
                              (static_cast<std::uint32_t>(bytes[at + 3]) << 24);
  return static_cast<std::int32_t>(value);
}

}  // namespace

std::optional<platform::FileTime> DosDateTimeToFileTime(std::uint16_t date, std::uint16_t time) {
  const int year = 1980 + (date >> 9);
  const int month = (date >> 5) & 0x0F;
  const int day = date & 0x1F;
  const int hour = time >> 11;
  const int minute = (time >> 5) & 0x3F;
  const int second = 2 * (time & 0x1F);
  if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) || hour > 23 ||
      minute > 59 || second > 59) {
    return std::nullopt;
  }
  const std::int64_t seconds =
      DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
  return platform::UnixTimeToFileTime(seconds);
}

ItemTimes TimesFromDos(std::uint32_t dosDateTime) {
  auto local = DosDateTimeToFileTime(static_cast<std::uint16_t>(dosDateTime >> 16),
                                     static_cast<std::uint16_t>(dosDateTime & 0xFFFF));
  if (!local) local = DosDateTimeToFileTime(kDosEpochDate, 0);
  const platform::FileTime utc = platform::LocalFileTimeToUtc(*local);
  return ItemTimes{utc, utc, utc};
}

void ApplyExtendedTimestamp(std::span<const std::uint8_t> localExtra, ItemTimes& times) {
  if (localExtra.size() <= 4) return;
  std::size_t offset = 0;
  while (offset + 4 < localExtra.size()) {
    const std::uint16_t id = ReadU16(localExtra, offset);
    const std::size_t dataSize = ReadU16(localExtra, offset + 2);
    if (id != kExtendedTimestampId) {
      offset += 4 + dataSize;
      continue;
    }
    // The block's data as far as both its stated size and the field reach.
    const std::span<const std::uint8_t> data =
        localExtra.subspan(offset + 4, std::min(dataSize, localExtra.size() - offset - 4));
    if (data.empty()) return;
    const std::uint8_t flags = data[0];
    platform::FileTime* const targets[3] = {&times.modificationTime, &times.accessTime,
                                            &times.creationTime};
    std::size_t at = 1;
    for (int bit = 0; bit < 3; ++bit) {
      if ((flags & (1 << bit)) == 0) continue;
      if (at + 4 > data.size()) return;  // announced but not there
      *targets[bit] = platform::UnixTimeToFileTime(ReadI32(data, at));
      at += 4;
    }
    return;
  }
}

}  // namespace archive
