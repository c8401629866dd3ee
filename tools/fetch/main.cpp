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
#include "http/address_beside.h"
#include "http/http_date.h"
#include "http/http_downloader.h"
#include "http/proxy_policy.h"
#include "net/socket_library.h"
#include "platform/files.h"
#include "progress_display.h"
#include "signing/package_signature.h"
#include "signing/release_acceptance.h"

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
  // The user's proxy settings, which the options override as curl's do.
  d.proxyPolicy = http::SystemProxyPolicy();
  if (o.proxy) d.proxyPolicy->OverrideProxy(*o.proxy);  // checked with the options
  if (o.noProxy) d.proxyPolicy->OverrideNoProxy(*o.noProxy);
  if (o.proxyCredentials) {
    d.proxyPolicy->OverrideCredentials(o.proxyCredentials->first, o.proxyCredentials->second);
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
  d.retryBackoff = 1;
  // curl's rule, slower than LIMIT bytes/s for TIME s (each 1 and 30 when
  // only the other is given), is the engine's fewer than LIMIT * TIME bytes
  // within TIME s.
  if (o.speedLimit || o.speedTime) {
    d.lowSpeedTime = o.speedTime.value_or(30);
    d.lowSpeedLimit = std::int64_t{o.speedLimit.value_or(1)} * d.lowSpeedTime;
  }
  d.caCertificates = o.caCertificates;
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

const char* SignatureText(signing::SignatureResult result) {
  switch (result) {
    case signing::SIGNATURE_OK:
      return "verified";
    case signing::SIGNATURE_UNSUPPORTED:
      return "signature of an unsupported kind (not a hashed one)";
    case signing::SIGNATURE_OTHER_KEY:
      return "signed with another key";
    case signing::SIGNATURE_INVALID:
      return "signature does not match";
    case signing::SIGNATURE_COMMENT_INVALID:
      return "trusted comment does not match";
    case signing::SIGNATURE_PACKAGE_UNREADABLE:
      return "cannot be read";
    default:
      break;
  }
  return "no usable signature";
}

// Fetches the signature beside URL (URL.minisig, before any query) whole (no
// resume, at most the size a signature file may have) and checks FILE
// against it. Neither file is kept when it fails.
int VerifyDownload(const fetch::FetchOptions& options, http::HttpDownloader& downloader) {
  signing::PublicKey key;
  signing::ParsePublicKey(*options.publicKey, key);  // checked with the options
  const std::string signaturePath = options.file + ".minisig";
  downloader.maxSize = static_cast<std::int64_t>(signing::kMaxSignatureFileSize);
  const http::DownloadResult fetched =
      downloader.Download(http::AddressBeside(options.url, signing::kSignatureSuffix), signaturePath, 1);
  signing::SignatureResult result = signing::SIGNATURE_MALFORMED;
  signing::SignatureFile signature;
  std::string text;
  if (fetched == http::DOWNLOAD_STOPPED) return http::DOWNLOAD_STOPPED;
  if (fetched == http::DOWNLOAD_OK && signing::ReadSignatureFile(signaturePath, signature, text)) {
    result = signing::VerifyPackage(key, options.file, signature);
  }
  if (result == signing::SIGNATURE_OK) return http::DOWNLOAD_OK;
  std::fprintf(stderr, "updater-fetch: %s: not verified: %s\n", options.file.c_str(),
               SignatureText(result));
  platform::DeleteFile(options.file);
  platform::DeleteFile(signaturePath);
  platform::DeleteFile(signaturePath + ".down");
  return http::DOWNLOAD_FAILED;
}

int Run(const fetch::FetchOptions& options) {
  std::unique_ptr<fetch::ProgressDisplay> display;
  if (!options.quiet && !options.head) {
    display = std::make_unique<fetch::ProgressDisplay>(stderr, platform::StandardErrorIsTerminal());
  }
  fetch::ConsoleDownloader downloader(display.get(), options.verbose ? stderr : nullptr);
  Apply(options, downloader);
  activeDownloader.store(&downloader);

  if (options.head) {
    std::int64_t length = 0;
    http::HttpTime modified = 0;
    const int ok = downloader.QueryInfo(options.url, length, modified);
    activeDownloader.store(nullptr);
    if (ok == 0) {
      std::fprintf(stderr, "updater-fetch: HEAD request failed\n");
      return http::DOWNLOAD_FAILED;
    }
    // A server may answer a HEAD without a length (a chunked or streamed body).
    if (length >= 0) std::printf("Content-Length: %lld\n", static_cast<long long>(length));
    // Without a time of the server's, the engine's value is only the clock.
    if (downloader.lastModifiedFromServer != 0) {
      std::printf("Last-Modified: %s\n", http::FormatHttpDate(modified).c_str());
    }
    return http::DOWNLOAD_OK;
  }

  const http::DownloadResult result =
      downloader.Download(options.url, options.file, options.force ? 1 : 0);
  if (display) display->Finish();
  if (!options.quiet || result == http::DOWNLOAD_FAILED) {
    std::fprintf(stderr, "updater-fetch: %s: %s\n", options.file.c_str(), ResultText(result));
  }
  int status = result;
  if (options.publicKey && (result == http::DOWNLOAD_OK || result == http::DOWNLOAD_UP_TO_DATE)) {
    downloader.SetProgressCallback(nullptr);
    const int verified = VerifyDownload(options, downloader);
    if (verified != http::DOWNLOAD_OK) status = verified;
  }
  activeDownloader.store(nullptr);
  return status;
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
