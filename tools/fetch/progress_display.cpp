#include "progress_display.h"

#include <algorithm>

namespace fetch {
namespace {

constexpr auto kRedrawInterval = std::chrono::milliseconds(100);
constexpr int kBarWidth = 30;

std::string Mebibytes(std::int32_t bytes) {
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
  const bool done = record.receivedSize >= record.totalSize;
  if (terminal_) {
    const auto now = std::chrono::steady_clock::now();
    if (!drawn_ || done || now - lastDraw_ >= kRedrawInterval) {
      lastDraw_ = now;
      DrawBar(record);
    }
    return;
  }
  const int tenth = Percent(record) / 10;
  if (tenth == lastTenth_) return;
  lastTenth_ = tenth;
  std::fprintf(out_, "%s: %d of %d bytes (%d%%)\n", record.fileName.c_str(), record.receivedSize,
               record.totalSize, Percent(record));
  std::fflush(out_);
}

void ProgressDisplay::DrawBar(const http::DownloadProgress& record) {
  const int percent = std::clamp(Percent(record), 0, 100);
  const int filled = percent * kBarWidth / 100;
  std::string bar(static_cast<std::size_t>(filled), '#');
  bar.append(static_cast<std::size_t>(kBarWidth - filled), ' ');
  std::fprintf(out_, "\r%s [%s] %3d%% %s / %s ", record.fileName.c_str(), bar.c_str(), percent,
               Mebibytes(record.receivedSize).c_str(), Mebibytes(record.totalSize).c_str());
  std::fflush(out_);
  drawn_ = true;
}

void ProgressDisplay::Finish() {
  if (drawn_) std::fputc('\n', out_);
  drawn_ = false;
}

}  // namespace fetch
