// The download job: QueryInfo, and Download with its temporary file, resume,
// up-to-date test, progress records, retry policy and atomic completion.
#include <algorithm>
#include <chrono>
#include <thread>

#include "http/header_text.h"
#include "http/http_downloader.h"
#include "http/milliseconds.h"
#include "net/socket_library.h"
#include "platform/files.h"

namespace http {
namespace {

// Files whose time differs from Last-Modified by this much still count as
// the same version (file systems with 2-second time resolution).
constexpr HttpTime kTimeTolerance = 2;

// The last component of the object, for the progress display.
std::string FileNameOf(const std::string& object) {
  std::size_t cut = object.rfind('/');
  if (cut == std::string::npos) cut = object.rfind('\\');
  if (cut == std::string::npos || object.size() <= 1) return object;
  return object.substr(cut + 1);
}

// Under RETRY_FOREVER without a retryDelay, failures in a row pause for
// 1 s, 2 s, 4 s and so on, never more than 30 s.
constexpr std::int32_t kFirstForeverPauseMs = 1000;
constexpr std::int32_t kLastForeverPauseMs = 30000;

}  // namespace

bool HttpDownloader::TakeUrl(const std::string& given) {
  url = TrimBlanks(given);
  if (url.empty()) return false;
  if (ParseUrl(url, host, object, port, useTls) == 0) {
    url = "http://" + url;
    if (ParseUrl(url, host, object, port, useTls) == 0) return false;
  }
  authHost_ = host;
  authPort_ = port;
  return true;
}

int HttpDownloader::QueryInfo(const std::string& givenUrl, std::int32_t& lengthOut,
                              HttpTime& lastModifiedOut) {
  stopRequested.store(0);
  const net::ScopedStopFlag stopScope(stopRequested);
  if (!TakeUrl(givenUrl)) return 0;
  tempFile = "|";
  const RequestResult result = SendRequest(1);
  CloseConnection();  // a HEAD response has no body to wait for
  if (result != REQUEST_OK) return 0;
  lengthOut = contentLength;
  lastModifiedOut = lastModified;
  return 1;
}

bool HttpDownloader::RetryAllowed() {
  if (StopAsked()) return false;
  switch (retryMode) {
    case RETRY_NONE:
      return false;
    case RETRY_LIMITED:
      if (static_cast<unsigned>(retryCount) > static_cast<unsigned>(maxRetries)) return false;
      ++retryCount;
      break;
    case RETRY_FOREVER:
      break;
    default:
      return false;
  }
  PauseBeforeRetry();
  return !StopAsked();
}

void HttpDownloader::PauseBeforeRetry() {
  ++failuresInARow_;
  std::int64_t delay = retryDelay;
  if (delay <= 0 && retryMode == RETRY_FOREVER) {
    delay = std::min<std::int64_t>(kLastForeverPauseMs, std::int64_t{kFirstForeverPauseMs}
                                                            << std::min(failuresInARow_ - 1, 5));
  }
  if (delay <= 0) return;
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(delay);
  while (!StopAsked()) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= end) return;
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
        end - now, std::chrono::milliseconds(net::kStopPollMs)));
  }
}

int HttpDownloader::ReceiveBody(char* destination, int wanted) {
  const std::uint32_t timeout = Milliseconds(receiveTimeout);
  if (socketReader->count > 0) return net::ReaderRead(*socketReader, destination, wanted, timeout);
  if (tlsChannel) return net::TlsRecvTimed(*tlsChannel, destination, wanted, timeout);
  return net::SocketRecvTimed(connection, destination, wanted, timeout);
}

HttpDownloader::Transfer HttpDownloader::TransferBody(platform::File& file) {
  bodyBuffer_.resize(static_cast<std::size_t>(kBodyReceiveSize));
  transferredSize = 0;
  while (transferredSize < contentLength) {
    if (StopAsked()) return Transfer::kStopped;
    // Never past the announced length, whatever the server sends after it.
    const int n = ReceiveBody(bodyBuffer_.data(),
                              std::min(kBodyReceiveSize, contentLength - transferredSize));
    if (n < 1) return StopAsked() ? Transfer::kStopped : Transfer::kBroken;
    if (!file.Write(bodyBuffer_.data(), static_cast<std::size_t>(n))) return Transfer::kBroken;
    for (int reported = 0; reported < n; reported += kBodyBlockSize) {
      const int step = std::min(kBodyBlockSize, n - reported);
      transferredSize += step;
      receivedSize += step;
      Notify(NOTIFY_PROGRESS);
    }
  }
  return Transfer::kComplete;
}

bool HttpDownloader::TargetIsCurrent() const {
  const std::optional<platform::FileStatus> target = platform::GetFileStatus(targetFile);
  if (!target || (target->attributes & platform::kAttrDirectory) != 0) return false;
  const HttpTime time = platform::FileTimeToUnixTime(target->modificationTime);
  return time - lastModified <= kTimeTolerance && lastModified - time <= kTimeTolerance &&
         target->size == totalSize;
}

bool HttpDownloader::OpenTemporaryFile(platform::File& file) {
  // Held exclusively until it is closed: a second run on the same target
  // fails here and changes nothing.
  file = platform::File::Open(tempFile, platform::OpenMode::kWriteKeep);
  if (!file.IsOpen()) return false;
  if (resumeTransfer != 0) return file.SeekToEnd();
  // A fresh body must not leave bytes of an older, longer file behind, and a
  // later resume must know what the body is a part of.
  const std::optional<HttpTime> validator =
      lastModifiedFromServer != 0 ? std::optional<HttpTime>(lastModified) : std::nullopt;
  return file.Truncate(0) && file.Seek(0) && RecordPartialFile(tempFile, totalSize, validator);
}

DownloadResult HttpDownloader::Download(const std::string& givenUrl, const std::string& givenTarget,
                                        int force) {
  stopRequested.store(0);
  const net::ScopedStopFlag stopScope(stopRequested);
  forceDownload = force;
  retryCount = 0;
  failuresInARow_ = 0;
  if (!TakeUrl(givenUrl)) return DOWNLOAD_FAILED;
  targetFile = TrimBlanks(givenTarget);
  if (targetFile.empty()) return DOWNLOAD_FAILED;
  tempFile = targetFile + ".down";

  bool announce = true;
  transferredSize = 0;
  receivedSize = 0;
  totalSize = 0;
  contentLength = 0;
  // The most the temporary file has held during this call: a transfer that
  // ends without going past it delivered nothing new.
  std::int32_t highWater = 0;
  int fruitlessTransfers = 0;

  // No exit leaves the connection open: a server must not be left waiting
  // on a client that has given up.
  struct ConnectionCloser {
    HttpDownloader& d;
    ~ConnectionCloser() { d.CloseConnection(); }
  } closer{*this};

  const auto failOrStop = [this] { return StopAsked() ? DOWNLOAD_STOPPED : DOWNLOAD_FAILED; };

  for (;;) {
    const RequestResult request = SendRequest(0);
    if (request == REQUEST_STOPPED) return DOWNLOAD_STOPPED;
    if (request == REQUEST_RETRY) {
      if (!RetryAllowed()) return failOrStop();
      continue;
    }
    if (request != REQUEST_OK) return DOWNLOAD_FAILED;
    if (contentLength == 0) return DOWNLOAD_FAILED;
    if (maxSize > 0 && totalSize > maxSize) return DOWNLOAD_FAILED;
    if (exactSize > 0 && totalSize != exactSize) return DOWNLOAD_FAILED;

    if (forceDownload == 0 && TargetIsCurrent()) return DOWNLOAD_UP_TO_DATE;
    platform::File file;
    if (!OpenTemporaryFile(file)) return DOWNLOAD_FAILED;

    fileName = FileNameOf(object);
    if (announce && notifyEnabled != 0) {
      Notify(NOTIFY_START);
      Notify(NOTIFY_SIZE);
      Notify(NOTIFY_PROGRESS);
      announce = false;
    }

    highWater = std::max(highWater, receivedSize);
    switch (TransferBody(file)) {
      case Transfer::kComplete:
        break;
      case Transfer::kStopped:
        return DOWNLOAD_STOPPED;
      case Transfer::kBroken:
        file.Close();
        // A break after progress resumes at once; breaks that add nothing are
        // a transient failure, so a server that always drops ends in time.
        if (receivedSize > highWater) {
          highWater = receivedSize;
          fruitlessTransfers = 0;
          failuresInARow_ = 0;
        } else if (++fruitlessTransfers >= kMaxFruitlessTransfers) {
          fruitlessTransfers = 0;
          if (!RetryAllowed()) return failOrStop();
        }
        continue;
    }

    // The target carries the server's time, for the up-to-date test of the
    // next run.
    const platform::FileTime stamp = platform::UnixTimeToFileTime(lastModified);
    file.SetTimes(nullptr, nullptr, &stamp);
    file.Close();
    CloseConnection();
    // One rename puts the new file in place: the old target stays whole
    // until then, and a failure is reported instead of leaving nothing.
    if (!platform::ReplaceFile(tempFile, targetFile)) return DOWNLOAD_FAILED;
    ForgetPartialFile(tempFile);
    return DOWNLOAD_OK;
  }
}

}  // namespace http
