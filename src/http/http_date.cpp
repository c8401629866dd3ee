#include "http/http_date.h"

#include <array>
#include <cctype>
#include <chrono>
#include <cstdio>

namespace http {
namespace {

constexpr std::array<const char*, 12> kMonths = {"jan", "feb", "mar", "apr", "may", "jun",
                                                 "jul", "aug", "sep", "oct", "nov", "dec"};
constexpr std::array<const char*, 12> kMonthNames = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr std::array<const char*, 7> kDayNames = {"Thu", "Fri", "Sat", "Sun",
                                                  "Mon", "Tue", "Wed"};  // from 1970-01-01

constexpr int kFirstYear = 1601;
constexpr int kLastYear = 2106;

bool IsLeapYear(std::int64_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(std::int64_t year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Splits the text into fields at blanks, tabs, commas, dashes and colons.
// Returns false when there are more than `max` of them.
template <std::size_t N>
bool SplitFields(std::string_view text, std::array<std::string_view, N>& fields,
                 std::size_t& count) {
  count = 0;
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == ',' ||
                               text[i] == '-' || text[i] == ':')) {
      ++i;
    }
    if (i == text.size()) break;
    const std::size_t start = i;
    while (i < text.size() && text[i] != ' ' && text[i] != '\t' && text[i] != ',' &&
           text[i] != '-' && text[i] != ':') {
      ++i;
    }
    if (count == N) return false;
    fields[count++] = text.substr(start, i - start);
  }
  return true;
}

// A field of 1 to `maxDigits` decimal digits and nothing else.
std::optional<int> Number(std::string_view field, std::size_t maxDigits) {
  if (field.empty() || field.size() > maxDigits) return std::nullopt;
  int value = 0;
  for (char c : field) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value;
}

std::optional<int> Month(std::string_view field) {
  if (field.size() != 3) return std::nullopt;
  std::string lower(field);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (std::size_t i = 0; i < kMonths.size(); ++i) {
    if (lower == kMonths[i]) return static_cast<int>(i) + 1;
  }
  return std::nullopt;
}

bool IsZone(std::string_view field) {
  if (field.size() != 3 && field.size() != 2) return false;
  std::string upper(field);
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return upper == "GMT" || upper == "UTC" || upper == "UT";
}

// A numeric zone at the end of the text ("+0000", "-0130"): its offset east
// of UTC in seconds, and the text without it. Nothing when there is none.
std::optional<int> TakeNumericZone(std::string_view& text) {
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  if (text.size() < 6) return std::nullopt;
  const std::string_view zone = text.substr(text.size() - 5);
  const char before = text[text.size() - 6];
  if ((zone[0] != '+' && zone[0] != '-') || (before != ' ' && before != '\t')) return std::nullopt;
  const std::optional<int> hours = Number(zone.substr(1, 2), 2);
  const std::optional<int> minutes = Number(zone.substr(3, 2), 2);
  if (!hours || !minutes || *hours > 23 || *minutes > 59) return std::nullopt;
  text.remove_suffix(5);
  const int offset = *hours * 3600 + *minutes * 60;
  return zone[0] == '-' ? -offset : offset;
}

}  // namespace

std::int64_t DaysFromCivil(std::int64_t year, int month, int day) {
  // Counts from 0000-03-01 so that the leap day is the last day of a year.
  year -= month <= 2 ? 1 : 0;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const std::int64_t yearOfEra = year - era * 400;
  const std::int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

std::optional<HttpTime> UtcToHttpTime(int year, int month, int day, int hour, int minute,
                                      int second) {
  if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month)) return std::nullopt;
  // 60 admits a leap second, which is counted as the next second's start.
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 60) {
    return std::nullopt;
  }
  return DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
}

std::optional<HttpTime> ParseHttpDate(std::string_view text) {
  const std::optional<int> zoneOffset = TakeNumericZone(text);
  std::array<std::string_view, 9> f;
  std::size_t n = 0;
  if (!SplitFields(text, f, n)) return std::nullopt;
  // Every form starts with the day name; which of the others it is shows in
  // the second field: a day number (RFC 1123, RFC 850) or a month (asctime).
  if (n < 7) return std::nullopt;
  std::optional<int> day;
  std::optional<int> month;
  std::optional<int> year;
  std::size_t timeAt = 0;
  if (Month(f[1])) {  // asctime: "Sun Nov  6 08:49:37 1994"
    if (n != 7) return std::nullopt;
    month = Month(f[1]);
    day = Number(f[2], 2);
    year = Number(f[6], 4);
    if (f[6].size() != 4) return std::nullopt;
    timeAt = 3;
  } else {
    // Without a zone the time is GMT; a numeric zone stands alone.
    if (n == 8 ? zoneOffset || !IsZone(f[7]) : n != 7) return std::nullopt;
    day = Number(f[1], 2);
    month = Month(f[2]);
    year = Number(f[3], 4);
    if (f[3].size() == 2 && year) {
      *year += *year >= 70 ? 1900 : 2000;
    } else if (f[3].size() != 4) {
      return std::nullopt;
    }
    timeAt = 4;
  }
  const std::optional<int> hour = Number(f[timeAt], 2);
  const std::optional<int> minute = Number(f[timeAt + 1], 2);
  const std::optional<int> second = Number(f[timeAt + 2], 2);
  if (!day || !month || !year || !hour || !minute || !second) return std::nullopt;
  // Outside what a file time (from 1601) and a 32-bit count of seconds since
  // 1970, unsigned, can both hold, a date cannot stamp a file.
  if (*year < kFirstYear || *year > kLastYear) return std::nullopt;
  const std::optional<HttpTime> time = UtcToHttpTime(*year, *month, *day, *hour, *minute, *second);
  if (!time) return std::nullopt;
  return *time - zoneOffset.value_or(0);
}

std::string FormatHttpDate(HttpTime time) {
  std::int64_t days = time / 86400;
  std::int64_t secs = time % 86400;
  if (secs < 0) {
    secs += 86400;
    --days;
  }
  // The inverse of DaysFromCivil.
  const std::int64_t z = days + 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t dayOfEra = z - era * 146097;
  const std::int64_t yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const std::int64_t mp = (5 * dayOfYear + 2) / 153;
  const int day = static_cast<int>(dayOfYear - (153 * mp + 2) / 5 + 1);
  const int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  const std::int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
  const std::int64_t weekday = ((days % 7) + 7) % 7;
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%s, %02d %s %04lld %02d:%02d:%02d GMT",
                kDayNames[static_cast<std::size_t>(weekday)], day,
                kMonthNames[static_cast<std::size_t>(month - 1)], static_cast<long long>(year),
                static_cast<int>(secs / 3600), static_cast<int>(secs / 60 % 60),
                static_cast<int>(secs % 60));
  return buffer;
}

HttpTime CurrentHttpTime() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

}  // namespace http
