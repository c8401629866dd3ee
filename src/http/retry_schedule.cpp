#include "http/retry_schedule.h"

#include <algorithm>

#include "http/http_downloader.h"

namespace http {

std::int64_t GrowingPauseMs(int failuresInARow, double jitter) {
  const int doublings = std::clamp(failuresInARow - 1, 0, 5);
  const std::int64_t pause = std::min(kLastRetryPauseMs, kFirstRetryPauseMs << doublings);
  const double cut = std::clamp(jitter, 0.0, 1.0) * static_cast<double>(pause) / 4;
  return pause - static_cast<std::int64_t>(cut);
}

std::optional<std::int64_t> ParseRetryAfter(std::string_view value, HttpTime now) {
  if (!value.empty() && value.find_first_not_of("0123456789") == std::string_view::npos) {
    // More than a minute is a minute: the digits past that do not matter.
    if (value.size() > 6) return kMaxRetryAfterMs;
    std::int64_t seconds = 0;
    for (const char c : value) seconds = seconds * 10 + (c - '0');
    return std::min(kMaxRetryAfterMs, seconds * 1000);
  }
  const std::optional<HttpTime> date = ParseHttpDate(value);
  if (!date) return std::nullopt;
  return std::clamp<std::int64_t>((*date - now) * 1000, 0, kMaxRetryAfterMs);
}

void RetrySchedule::Start(std::int64_t nowMs) {
  retries_ = 0;
  failuresInARow_ = 0;
  lastProgressMs_ = nowMs;
}

void RetrySchedule::Progress(std::int64_t nowMs) {
  failuresInARow_ = 0;
  lastProgressMs_ = nowMs;
}

std::optional<std::int64_t> RetrySchedule::Next(const RetrySettings& settings, std::int64_t nowMs,
                                                std::optional<std::int64_t> retryAfterMs,
                                                double jitter) {
  std::int64_t budgetLeft = kLastRetryPauseMs + kMaxRetryAfterMs;
  switch (settings.mode) {
    case RETRY_LIMITED:
      if (static_cast<unsigned>(retries_) > static_cast<unsigned>(settings.maxRetries)) {
        return std::nullopt;
      }
      break;
    case RETRY_FOREVER:
      break;
    case RETRY_RUN:
      budgetLeft = settings.budgetMs - (nowMs - lastProgressMs_);
      if (budgetLeft <= 0) return std::nullopt;
      break;
    default:  // RETRY_NONE, and any value that names no mode
      return std::nullopt;
  }
  ++retries_;
  ++failuresInARow_;
  const bool backoff = settings.backoff || settings.mode == RETRY_RUN;
  std::int64_t pause = std::max<std::int64_t>(settings.delayMs, 0);
  if (pause == 0 && (backoff || settings.mode == RETRY_FOREVER)) {
    pause = GrowingPauseMs(failuresInARow_, jitter);
  }
  if (retryAfterMs && backoff) {
    pause = settings.delayMs > 0 ? std::max(pause, *retryAfterMs) : *retryAfterMs;
  }
  return std::min(pause, budgetLeft);
}

}  // namespace http
