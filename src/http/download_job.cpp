// The download job: QueryInfo, and Download with its temporary file, resume,
// up-to-date test, progress records, retry policy and atomic completion.
#include <algorithm>
#include <chrono>
#include <random>
#include <thread>

#include "http/chunked_body.h"
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

// Watches a transfer for a stall: fewer than `limit` bytes within any window
// of `seconds` seconds. Waits are cut at the window's end, so that a stall is
// judged when its window closes, not after a whole receive time-out.
class StallWatch {
 public:
  StallWatch(std::int64_t limit, std::int32_t seconds)
      : limit_(limit), window_(std::chrono::seconds(std::max(0, seconds))), start_(Now()) {}
  // How long the next receive may wait, at most `timeoutMs`.
  std::uint32_t Wait(std::uint32_t timeoutMs) const {
    if (!Active()) return timeoutMs;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(start_ + window_ - Now());
    return static_cast<std::uint32_t>(
        std::clamp<std::int64_t>(left.count(), 0, static_cast<std::int64_t>(timeoutMs)));
  }
  // After `bytes` more arrived: false once a window closed with too few.
  bool Take(std::int64_t bytes) {
    bytes_ += bytes;
    if (!Active() || Now() < start_ + window_) return true;
    if (bytes_ < limit_) return false;
    start_ = Now();
    bytes_ = 0;
    return true;
  }
  // Whether a wait that ran out ended at the window's close, not at the
  // receive time-out.
  bool WindowClosed() const { return Active() && Now() >= start_ + window_; }

 private:
  static std::chrono::steady_clock::time_point Now() { return std::chrono::steady_clock::now(); }
  bool Active() const { return limit_ > 0 && window_.count() > 0; }

  std::int64_t limit_;
  std::chrono::steady_clock::duration window_;
  std::chrono::steady_clock::time_point start_;
  std::int64_t bytes_ = 0;
};

// A fraction in [0, 1) for the jitter of retry pauses.
double Jitter() {
  static thread_local std::minstd_rand generator(
      static_cast<std::uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
  return std::uniform_real_distribution<double>(0.0, 1.0)(generator);
}

// The body of a whole file, written as it comes.
class FileSink final : public BodySink {
 public:
  explicit FileSink(platform::File& file) : file_(file) {}
  Verdict Take(const char* data, std::size_t size, std::size_t& kept) override {
    kept = size;
    return file_.Write(data, size) ? Verdict::kTaken : Verdict::kWriteFailed;
  }

 private:
  platform::File& file_;
};

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

int HttpDownloader::QueryInfo(const std::string& givenUrl, std::int64_t& lengthOut,
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
  const RetrySettings settings{retryMode, maxRetries, retryDelay, retryBudget, retryBackoff != 0};
  const std::optional<std::int64_t> pause =
      retrySchedule_.Next(settings, NowMs(), retryAfterMs_, Jitter());
  retryAfterMs_.reset();  // it answered this failure only
  retryCount = retrySchedule_.retries();
  if (!pause) return false;
  retryPauseMs_ = *pause;
  Notify(NOTIFY_RETRY);
  return PauseBeforeRetry(*pause) && !StopAsked();
}

std::int64_t HttpDownloader::NowMs() const {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

bool HttpDownloader::PauseBeforeRetry(std::int64_t ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!StopAsked()) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= end) return true;
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
        end - now, std::chrono::milliseconds(net::kStopPollMs)));
  }
  return false;
}

int HttpDownloader::ReceiveBody(char* destination, int wanted, std::uint32_t timeoutMs) {
  if (socketReader->count > 0)
    return net::ReaderRead(*socketReader, destination, wanted, timeoutMs);
  if (tlsChannel) return net::TlsRecvTimed(*tlsChannel, destination, wanted, timeoutMs);
  return net::SocketRecvToClose(connection, destination, wanted, timeoutMs);
}

HttpDownloader::Transfer HttpDownloader::TransferBody(BodySink& sink) {
  bodyBuffer_.resize(static_cast<std::size_t>(kBodyReceiveSize));
  transferredSize = 0;
  ChunkedDecoder chunks;
  StallWatch stall(lowSpeedLimit, lowSpeedTime);
  const std::uint32_t timeout = Milliseconds(receiveTimeout);
  for (;;) {
    if (framing == BodyFraming::kLength && transferredSize >= contentLength) {
      return Transfer::kComplete;
    }
    if (StopAsked()) return Transfer::kStopped;
    // Never past the announced length, whatever the server sends after it.
    const int wanted = framing == BodyFraming::kLength
                           ? static_cast<int>(std::min<std::int64_t>(
                                 kBodyReceiveSize, contentLength - transferredSize))
                           : kBodyReceiveSize;
    const int n = ReceiveBody(bodyBuffer_.data(), wanted, stall.Wait(timeout));
    if (n == 0 && framing == BodyFraming::kClose) return Transfer::kComplete;
    if (n < 0 && net::SocketLastError() == net::ErrTimedOut() && stall.WindowClosed() &&
        !StopAsked()) {
      if (stall.Take(0)) continue;  // enough came in the window that closed
      return Transfer::kBroken;
    }
    if (n < 1) return StopAsked() ? Transfer::kStopped : Transfer::kBroken;
    std::size_t data = static_cast<std::size_t>(n);
    if (framing == BodyFraming::kChunked) {
      data = chunks.Decode(bodyBuffer_.data(), data);
      if (chunks.state() == ChunkedDecoder::State::kMalformed) return Transfer::kMalformed;
    }
    if (framing != BodyFraming::kLength && maxSize > 0 &&
        receivedSize + static_cast<std::int64_t>(data) > maxSize) {
      return Transfer::kTooLarge;
    }
    std::size_t kept = 0;
    switch (data > 0 ? sink.Take(bodyBuffer_.data(), data, kept) : BodySink::Verdict::kTaken) {
      case BodySink::Verdict::kTaken:
        break;
      case BodySink::Verdict::kWriteFailed:
        return Transfer::kBroken;
      case BodySink::Verdict::kMalformed:
        return Transfer::kMalformed;
    }
    transferredSize += static_cast<std::int64_t>(data);
    for (std::size_t reported = 0; reported < kept;
         reported += static_cast<std::size_t>(kBodyBlockSize)) {
      receivedSize += static_cast<std::int64_t>(
          std::min<std::size_t>(static_cast<std::size_t>(kBodyBlockSize), kept - reported));
      Notify(NOTIFY_PROGRESS);
    }
    if (chunks.state() == ChunkedDecoder::State::kDone) return Transfer::kComplete;
    if (!stall.Take(n)) return Transfer::kBroken;
  }
}

bool FileIsCurrent(const std::string& path, std::int64_t size, HttpTime time) {
  const std::optional<platform::FileStatus> file = platform::GetFileStatus(path);
  if (!file || (file->attributes & platform::kAttrDirectory) != 0) return false;
  const HttpTime stamp = platform::FileTimeToUnixTime(file->modificationTime);
  return stamp - time <= kTimeTolerance && time - stamp <= kTimeTolerance && file->size == size;
}

bool HttpDownloader::ContinueAfterBreak(std::int64_t& highWater, int& fruitlessTransfers) {
  // A break after progress resumes at once; breaks that add nothing are a
  // transient failure, so a server that always drops ends in time.
  if (receivedSize > highWater) {
    highWater = receivedSize;
    fruitlessTransfers = 0;
    retrySchedule_.Progress(NowMs());
    return true;
  }
  if (++fruitlessTransfers < kMaxFruitlessTransfers) return true;
  fruitlessTransfers = 0;
  Retry(RetryCause::kBroken);
  return RetryAllowed();
}

bool HttpDownloader::OpenTemporaryFile(platform::File& file) {
  // Held exclusively until it is closed: a second run on the same target
  // fails here and changes nothing.
  file = platform::File::Open(tempFile, platform::OpenMode::kWriteKeep);
  if (!file.IsOpen()) return false;
  if (resumeTransfer != 0) return file.SeekToEnd();
  // A fresh body must not leave bytes of an older, longer file behind, and a
  // later resume must know what the body is a part of. A body of unknown
  // length cannot be resumed: without a record, a break starts again at 0.
  const std::optional<HttpTime> validator =
      lastModifiedFromServer != 0 ? std::optional<HttpTime>(lastModified) : std::nullopt;
  if (!file.Truncate(0) || !file.Seek(0)) return false;
  if (totalSize < 0) {
    ForgetPartialFile(tempFile);
    return true;
  }
  return RecordPartialFile(tempFile, totalSize, validator);
}

DownloadResult HttpDownloader::Download(const std::string& givenUrl, const std::string& givenTarget,
                                        int force) {
  stopRequested.store(0);
  const net::ScopedStopFlag stopScope(stopRequested);
  forceDownload = force;
  retryCount = 0;
  retrySchedule_.Start(NowMs());
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
  std::int64_t highWater = 0;
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
    if (framing == BodyFraming::kLength && contentLength == 0) return DOWNLOAD_FAILED;
    if (maxSize > 0 && totalSize > maxSize) return DOWNLOAD_FAILED;
    // A body of unknown length (-1) is bounded by maxSize; the caller judges
    // what it held.
    if (exactSize > 0 && totalSize >= 0 && totalSize != exactSize) return DOWNLOAD_FAILED;

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
    FileSink sink(file);
    switch (TransferBody(sink)) {
      case Transfer::kComplete:
        break;
      case Transfer::kStopped:
        return DOWNLOAD_STOPPED;
      case Transfer::kMalformed:
      case Transfer::kTooLarge:
        return DOWNLOAD_FAILED;
      case Transfer::kBroken:
        file.Close();
        if (!ContinueAfterBreak(highWater, fruitlessTransfers)) return failOrStop();
        continue;
    }
    // An empty body is never a file, however it was framed.
    if (transferredSize == 0) return DOWNLOAD_FAILED;

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
