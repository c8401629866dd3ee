// When a transient failure (a refused, reset or timed-out connection, a
// failed look-up, a broken or stalled transfer, 408, 429 or 5xx) is tried
// again, and after how long a pause. Pure: the caller brings the clock and
// the jitter, so every rule can be checked without waiting.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "http/http_date.h"

namespace http {

// Growing pauses: 1 s, 2 s, 4 s ... never more than 30 s.
inline constexpr std::int64_t kFirstRetryPauseMs = 1000;
inline constexpr std::int64_t kLastRetryPauseMs = 30000;
// A server's Retry-After is honoured up to this.
inline constexpr std::int64_t kMaxRetryAfterMs = 60000;

// The pause after `failuresInARow` failures in a row (1 for the first),
// shortened by up to a quarter as `jitter` (0 to 1) says, so that clients that
// failed together do not come back together.
std::int64_t GrowingPauseMs(int failuresInARow, double jitter);

// A Retry-After value (delay-seconds or an HTTP date, judged against `now`)
// in ms, at most kMaxRetryAfterMs; a date in the past gives 0. Nothing when
// the value is neither.
std::optional<std::int64_t> ParseRetryAfter(std::string_view value, HttpTime now);

struct RetrySettings {
  int mode = 0;  // a RetryMode
  std::int32_t maxRetries = 0;
  std::int32_t delayMs = 0;   // 0: growing pauses
  std::int64_t budgetMs = 0;  // RETRY_RUN: ms without progress before it gives up
  // Without a fixed delay, growing pauses; and a server's Retry-After is
  // honoured. Always so under RETRY_RUN; RETRY_FOREVER has the growing pauses
  // of its own; RETRY_LIMITED without either retries at once, as it always did.
  bool backoff = false;
};

class RetrySchedule {
 public:
  // A new operation begins at `nowMs`.
  void Start(std::int64_t nowMs);
  // Bytes arrived: the pauses start small again and the budget is whole.
  void Progress(std::int64_t nowMs);
  // After one more transient failure: the pause before the retry, or nothing
  // when the settings give up. A server's Retry-After takes the place of the
  // growing pause and is never cut short by a fixed delay; under RETRY_RUN
  // no pause runs past the budget.
  std::optional<std::int64_t> Next(const RetrySettings& settings, std::int64_t nowMs,
                                   std::optional<std::int64_t> retryAfterMs, double jitter);
  // Retries granted since Start.
  int retries() const { return retries_; }

 private:
  int retries_ = 0;
  int failuresInARow_ = 0;
  std::int64_t lastProgressMs_ = 0;
};

}  // namespace http
