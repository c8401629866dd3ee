#include "progress_display.h"

#include <algorithm>
#include <bit>

namespace fetch {
namespace {

constexpr auto kRedrawInterval = std::chrono::milliseconds(100);
constexpr int kBarWidth = 30;

std::string Mebibytes(std::int64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f MiB", static_cast<double>(bytes) / (1024.0 * 1024.0));
  return text;
}

int Percent(const http::DownloadProgress& record) {
  if (record.totalSize <= 0) return 0;
  return static_cast<int>(static_cast<std::int64_t>(record.receivedSize) * 100 / record.totalSize);
}

}  // namespace

std::string DescribeRoute(const http::ProxyRoute& route) {
  const char* scheme = http::ProxyScheme(route.kind);
  if (scheme == nullptr) return "direct";
  const bool v6 = route.host.find(':') != std::string::npos;
  return std::string("via ") + scheme + "://" + (route.auth != 0 ? route.user + "@" : "") +
         (v6 ? "[" + route.host + "]" : route.host) + ":" + std::to_string(route.port);
}

void ProgressDisplay::Show(const http::DownloadProgress& record) {
  if (record.code != http::NOTIFY_PROGRESS) return;
  const bool done = record.totalSize >= 0 && record.receivedSize >= record.totalSize;
  if (terminal_) {
    const auto now = std::chrono::steady_clock::now();
    if (!drawn_ || done || now - lastDraw_ >= kRedrawInterval) {
      lastDraw_ = now;
      DrawBar(record);
    }
    return;
  }
  // Without a known total, a line per mebibyte power of two received.
  const int tenth =
      record.totalSize >= 0
          ? Percent(record) / 10
          : static_cast<int>(std::bit_width(static_cast<std::uint64_t>(record.receivedSize >> 20)));
  if (tenth == lastTenth_) return;
  lastTenth_ = tenth;
  if (record.totalSize < 0) {
    std::fprintf(out_, "%s: %lld bytes\n", record.fileName.c_str(),
                 static_cast<long long>(record.receivedSize));
  } else {
    std::fprintf(out_, "%s: %lld of %lld bytes (%d%%)\n", record.fileName.c_str(),
                 static_cast<long long>(record.receivedSize),
                 static_cast<long long>(record.totalSize), Percent(record));
  }
  std::fflush(out_);
}

void ProgressDisplay::DrawBar(const http::DownloadProgress& record) {
  const int percent = std::clamp(Percent(record), 0, 100);
  const int filled = percent * kBarWidth / 100;
  std::string bar(static_cast<std::size_t>(filled), '#');
  bar.append(static_cast<std::size_t>(kBarWidth - filled), ' ');
  std::fprintf(out_, "\r%s [%s] %3d%% %s / %s ", record.fileName.c_str(), bar.c_str(), percent,
               Mebibytes(record.receivedSize).c_str(),
               record.totalSize < 0 ? "?" : Mebibytes(record.totalSize).c_str());
  std::fflush(out_);
  drawn_ = true;
}

void ProgressDisplay::Finish() {
  if (drawn_) std::fputc('\n', out_);
  drawn_ = false;
}

}  // namespace fetch
