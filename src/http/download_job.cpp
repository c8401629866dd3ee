// The download job: QueryInfo, and Download with its temporary file, resume,
// up-to-date test, progress records, retry policy and atomic completion.
#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

#include "http/header_text.h"
#include "http/http_downloader.h"
#include "platform/files.h"

namespace http {
namespace {

// Files whose time differs from Last-Modified by this much still count as
// the same version (file systems with 2-second time resolution).
constexpr HttpTime kTimeTolerance = 2;
constexpr auto kStopPollInterval = std::chrono::milliseconds(50);

// Trims the URL, and when it does not parse tries once more as "http://" + URL.
bool TakeUrl(const std::string& given, std::string& url, std::string& host, std::string& object,
             std::uint16_t& port) {
  url = TrimBlanks(given);
  if (url.empty()) return false;
  if (ParseUrl(url, host, object, port) != 0) return true;
  url = "http://" + url;
  return ParseUrl(url, host, object, port) != 0;
}

// The last component of the object, for the progress display.
std::string FileNameOf(const std::string& object) {
  std::size_t cut = object.rfind('/');
  if (cut == std::string::npos) cut = object.rfind('\\');
  if (cut == std::string::npos || object.size() <= 1) return object;
  return object.substr(cut + 1);
}

// Closes the temporary file, stamping it with the Last-Modified time of the
// response it holds; a later resume sends that time as If-Range.
void CloseStamped(platform::File& file, HttpTime lastModified) {
  const platform::FileTime stamp = platform::UnixTimeToFileTime(lastModified);
  file.SetTimes(nullptr, nullptr, &stamp);
  file.Close();
}

}  // namespace

int HttpDownloader::QueryInfo(const std::string& givenUrl, std::int32_t& lengthOut,
                              HttpTime& lastModifiedOut) {
  if (!TakeUrl(givenUrl, url, host, object, port)) return 0;
  tempFile = "|";
  stopRequested.store(0);
  const RequestResult result = SendRequest(1);
  CloseConnection();  // a HEAD response has no body to wait for
  if (result != REQUEST_OK) return 0;
  lengthOut = contentLength;
  lastModifiedOut = lastModified;
  return 1;
}

bool HttpDownloader::RetryAllowed() {
  if (stopRequested.load() != 0) return false;
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
  return stopRequested.load() == 0;
}

void HttpDownloader::PauseBeforeRetry() const {
  if (retryDelay <= 0) return;
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(retryDelay);
  while (stopRequested.load() == 0) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= end) return;
    std::this_thread::sleep_for(
        std::min<std::chrono::steady_clock::duration>(end - now, kStopPollInterval));
  }
}

int HttpDownloader::ReceiveBody(char* destination, int wanted) {
  const auto timeout = static_cast<std::uint32_t>(std::max(0, receiveTimeout));
  if (socketReader->count > 0) return net::ReaderRead(*socketReader, destination, wanted, timeout);
  return net::SocketRecvTimed(connection, destination, wanted, timeout);
}

DownloadResult HttpDownloader::Download(const std::string& givenUrl, const std::string& givenTarget,
                                        int force) {
  stopRequested.store(0);
  forceDownload = force;
  retryCount = 0;
  if (!TakeUrl(givenUrl, url, host, object, port)) return DOWNLOAD_FAILED;
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
  std::vector<char> block(static_cast<std::size_t>(kBodyReceiveSize));

  // No exit leaves the connection open: a server must not be left waiting
  // on a client that has given up.
  struct ConnectionCloser {
    HttpDownloader& d;
    ~ConnectionCloser() { d.CloseConnection(); }
  } closer{*this};

  const auto failOrStop = [this] {
    return stopRequested.load() != 0 ? DOWNLOAD_STOPPED : DOWNLOAD_FAILED;
  };

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

    if (forceDownload == 0) {
      const std::optional<platform::FileStatus> target = platform::GetFileStatus(targetFile);
      if (target && (target->attributes & platform::kAttrDirectory) == 0) {
        const HttpTime time = platform::FileTimeToUnixTime(target->modificationTime);
        if (time - lastModified <= kTimeTolerance && lastModified - time <= kTimeTolerance &&
            target->size == totalSize) {
          return DOWNLOAD_UP_TO_DATE;
        }
      }
    }

    platform::File file = platform::File::Open(tempFile, platform::OpenMode::kWriteKeep);
    if (!file.IsOpen()) return DOWNLOAD_FAILED;
    if (resumeTransfer != 0) {
      if (!file.SeekToEnd()) return DOWNLOAD_FAILED;
    } else if (!file.Truncate(0) || !file.Seek(0)) {
      // A fresh body must not leave bytes of an older, longer file behind.
      return DOWNLOAD_FAILED;
    }

    fileName = FileNameOf(object);
    if (announce && notifyEnabled != 0) {
      Notify(NOTIFY_START);
      Notify(NOTIFY_SIZE);
      Notify(NOTIFY_PROGRESS);
      announce = false;
    }

    highWater = std::max(highWater, receivedSize);
    transferredSize = 0;
    bool complete = false;
    const platform::FileTime stamp = platform::UnixTimeToFileTime(lastModified);
    while (!complete) {
      if (stopRequested.load() != 0) {
        CloseStamped(file, lastModified);
        return DOWNLOAD_STOPPED;
      }
      // Never past the announced length, whatever the server sends after it.
      const int n =
          ReceiveBody(block.data(), std::min(kBodyReceiveSize, contentLength - transferredSize));
      if (n < 1 || !file.Write(block.data(), static_cast<std::size_t>(n))) break;
      // Each write moves the file's time to now; the resume stamp goes back at
      // once, so a run that is killed still resumes with the right If-Range.
      file.SetTimes(nullptr, nullptr, &stamp);
      for (int reported = 0; reported < n; reported += kBodyBlockSize) {
        const int step = std::min(kBodyBlockSize, n - reported);
        transferredSize += step;
        receivedSize += step;
        Notify(NOTIFY_PROGRESS);
      }
      complete = transferredSize >= contentLength;
    }
    CloseStamped(file, lastModified);

    if (!complete) {
      // A break after progress resumes at once; breaks that add nothing are
      // a transient failure, so a server that always drops ends in time.
      if (receivedSize > highWater) {
        highWater = receivedSize;
        fruitlessTransfers = 0;
      } else if (++fruitlessTransfers >= kMaxFruitlessTransfers) {
        fruitlessTransfers = 0;
        if (!RetryAllowed()) return failOrStop();
      }
      continue;
    }

    CloseConnection();
    // One rename puts the new file in place: the old target stays whole
    // until then, and a failure is reported instead of leaving nothing.
    if (!platform::ReplaceFile(tempFile, targetFile)) return DOWNLOAD_FAILED;
    return DOWNLOAD_OK;
  }
}

}  // namespace http
