// HTTP dates (the Last-Modified and If-Range values) and their conversion to
// and from seconds since 1970-01-01 00:00 UTC. The arithmetic is done here,
// without the C library's time zone, so a GMT date always means the same
// instant whatever zone the machine is in.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace http {

// Seconds since 1970-01-01 00:00 UTC.
using HttpTime = std::int64_t;

// Days from 1970-01-01 to the given proleptic Gregorian date (month 1..12).
std::int64_t DaysFromCivil(std::int64_t year, int month, int day);

// The instant of a UTC calendar time; nothing when a field is out of range.
std::optional<HttpTime> UtcToHttpTime(int year, int month, int day, int hour, int minute,
                                      int second);

// Reads the three forms HTTP allows: "Sun, 06 Nov 1994 08:49:37 GMT" (RFC 1123),
// "Sunday, 06-Nov-94 08:49:37 GMT" (RFC 850, years 70..99 are 19xx) and
// "Sun Nov  6 08:49:37 1994" (asctime). Names match in any case. The zone of
// the first two may be GMT, UTC, UT, missing (GMT) or numeric ("+0100", which
// is applied). Nothing when the text is none of them, or its year lies
// before 1601 or after 2106.
std::optional<HttpTime> ParseHttpDate(std::string_view text);

// The RFC 1123 form, always in GMT, e.g. "Sun, 06 Nov 1994 08:49:37 GMT".
std::string FormatHttpDate(HttpTime time);

// The current time of the system clock.
HttpTime CurrentHttpTime();

}  // namespace http
