// updater-fetch: the download engine from a shell, to check an update server
// or a proxy, and to test and measure the engine from outside.
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "fetch_options.h"
#include "http/http_date.h"
#include "http/http_downloader.h"
#include "net/socket_library.h"
#include "platform/files.h"
#include "progress_display.h"

namespace {

constexpr int kExitUsage = 64;

std::atomic<http::HttpDownloader*> activeDownloader{nullptr};

constexpr int kExitStopped = 2;
std::atomic<int> stopSignals{0};

// Ctrl+C asks the engine to stop, which it sees within about 100 ms wherever
// it waits, keeping the partial file for a resume; a second one exits at once.
extern "C" void OnStopSignal(int) {
  if (stopSignals.fetch_add(1) > 0) std::_Exit(kExitStopped);
  if (http::HttpDownloader* d = activeDownloader.load()) d->RequestStop();
}

void Apply(const fetch::FetchOptions& o, http::HttpDownloader& d) {
  if (o.proxy) {
    d.proxyKind = o.proxy->kind;
    d.proxyHost = o.proxy->host;
    d.proxyPort = o.proxy->port;
    d.proxyAuth = o.proxy->auth ? 1 : 0;
    d.proxyUser = o.proxy->user;
    d.proxyPassword = o.proxy->password;
  }
  if (o.credentials) {
    d.useAuth = 1;
    d.authUser = o.credentials->first;
    d.authPassword = o.credentials->second;
  }
  if (o.referer) d.referer = *o.referer;
  if (o.userAgent) d.userAgent = *o.userAgent;
  if (o.connectTimeout) d.connectTimeout = *o.connectTimeout;
  if (o.receiveTimeout) d.receiveTimeout = *o.receiveTimeout;
  if (o.sendTimeout) d.sendTimeout = *o.sendTimeout;
  if (o.retryMode) d.retryMode = *o.retryMode;
  d.maxRetries = o.maxRetries;
  if (o.retryDelay) d.retryDelay = *o.retryDelay;
}

const char* ResultText(http::DownloadResult result) {
  switch (result) {
    case http::DOWNLOAD_OK:
      return "downloaded";
    case http::DOWNLOAD_UP_TO_DATE:
      return "up to date";
    case http::DOWNLOAD_STOPPED:
      return "stopped";
    case http::DOWNLOAD_FAILED:
      break;
  }
  return "download failed";
}

int Run(const fetch::FetchOptions& options) {
  std::unique_ptr<fetch::ProgressDisplay> display;
  if (!options.quiet && !options.head) {
    display = std::make_unique<fetch::ProgressDisplay>(stderr, platform::StandardErrorIsTerminal());
  }
  fetch::ConsoleDownloader downloader(display.get());
  Apply(options, downloader);
  activeDownloader.store(&downloader);

  if (options.head) {
    std::int32_t length = 0;
    http::HttpTime modified = 0;
    const int ok = downloader.QueryInfo(options.url, length, modified);
    activeDownloader.store(nullptr);
    if (ok == 0) {
      std::fprintf(stderr, "updater-fetch: HEAD request failed\n");
      return http::DOWNLOAD_FAILED;
    }
    std::printf("Content-Length: %d\n", length);
    // Without a time of the server's, the engine's value is only the clock.
    if (downloader.lastModifiedFromServer != 0) {
      std::printf("Last-Modified: %s\n", http::FormatHttpDate(modified).c_str());
    }
    return http::DOWNLOAD_OK;
  }

  const http::DownloadResult result =
      downloader.Download(options.url, options.file, options.force ? 1 : 0);
  activeDownloader.store(nullptr);
  if (display) display->Finish();
  if (!options.quiet || result == http::DOWNLOAD_FAILED) {
    std::fprintf(stderr, "updater-fetch: %s: %s\n", options.file.c_str(), ResultText(result));
  }
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> arguments(argv + 1, argv + argc);
  fetch::FetchOptions options;
  std::string error;
  if (!fetch::ParseFetchOptions(arguments, options, error)) {
    std::fprintf(stderr, "updater-fetch: %s (see --help)\n", error.c_str());
    return kExitUsage;
  }
  if (options.help) {
    std::fputs(fetch::kUsage, stdout);
    return 0;
  }
  std::signal(SIGINT, OnStopSignal);
  std::signal(SIGTERM, OnStopSignal);
  net::SocketStartup();
  const int status = Run(options);
  net::SocketCleanup();
  return status;
}
