// DownloadRanges: spans of a file into their places in a file that is
// already there, several to a request, and after a break only what is still
// missing.
#include <optional>
#include <utility>

#include "http/field_values.h"
#include "http/http_downloader.h"
#include "http/response_header.h"

namespace http {
namespace {

// An answer may hold this much beside the parts' data for each span asked
// for (part headers and delimiters); one that announces more is refused
// before its body is read.
constexpr std::int64_t kPartOverheadBytes = 1024;

std::int64_t BytesOf(const std::vector<ByteSpan>& spans, std::size_t count) {
  std::int64_t bytes = 0;
  for (std::size_t i = 0; i < count && i < spans.size(); ++i) bytes += spans[i].length;
  return bytes;
}

// How the body of a 206 answer brings its parts: multipart/byteranges, or a
// single part where its Content-Range says. Nothing for any other answer.
std::optional<ByteRangesDecoder> PartsDecoder(const std::string& header, std::int64_t fileSize) {
  const std::optional<ResponseFields> response = SplitResponseHeader(header);
  if (!response || response->status != 206) return std::nullopt;
  if (const auto type = FindField(*response, "Content-Type")) {
    if (const std::optional<std::string> boundary = ByteRangesBoundary(*type)) {
      return ByteRangesDecoder(*boundary, fileSize);
    }
  }
  const auto text = FindField(*response, "Content-Range");
  const std::optional<ContentRange> range = text ? ParseContentRange(*text) : std::nullopt;
  if (!range || range->last >= fileSize || (range->complete >= 0 && range->complete != fileSize)) {
    return std::nullopt;
  }
  return ByteRangesDecoder(range->first, range->last - range->first + 1);
}

// Writes the parts of one answer at their places and keeps where they went.
class PartsSink final : public BodySink {
 public:
  PartsSink(ByteRangesDecoder decoder, platform::File& file)
      : decoder_(std::move(decoder)), file_(file) {}

  Verdict Take(const char* data, std::size_t size, std::size_t& kept) override {
    kept = 0;
    const bool written =
        decoder_.Decode(data, size, [&](std::int64_t offset, const char* bytes, std::size_t count) {
          if ((offset != position_ && !file_.Seek(offset)) || !file_.Write(bytes, count)) {
            position_ = -1;
            return false;
          }
          const auto n = static_cast<std::int64_t>(count);
          position_ = offset + n;
          if (!arrived_.empty() && arrived_.back().offset + arrived_.back().length == offset) {
            arrived_.back().length += n;
          } else {
            arrived_.push_back({offset, n});
          }
          kept += count;
          return true;
        });
    if (!written) return Verdict::kWriteFailed;
    return decoder_.state() == ByteRangesDecoder::State::kMalformed ? Verdict::kMalformed
                                                                    : Verdict::kTaken;
  }
  bool Whole() const { return decoder_.state() == ByteRangesDecoder::State::kDone; }
  const std::vector<ByteSpan>& arrived() const { return arrived_; }

 private:
  ByteRangesDecoder decoder_;
  platform::File& file_;
  std::int64_t position_ = -1;  // the file's offset, where known
  std::vector<ByteSpan> arrived_;
};

}  // namespace

DownloadResult HttpDownloader::DownloadRanges(const std::string& givenUrl, platform::File& target,
                                              std::int64_t fileSize, std::vector<ByteSpan> spans) {
  stopRequested.store(0);
  const net::ScopedStopFlag stopScope(stopRequested);
  retryCount = 0;
  retrySchedule_.Start(NowMs());
  if (!TakeUrl(givenUrl)) return DOWNLOAD_FAILED;
  // Never a resume of the whole file's temporary file.
  forceDownload = 1;
  struct ConnectionCloser {
    HttpDownloader& d;
    ~ConnectionCloser() { d.CloseConnection(); }
  } closer{*this};
  const auto failOrStop = [this] { return StopAsked() ? DOWNLOAD_STOPPED : DOWNLOAD_FAILED; };

  const std::int64_t wanted = BytesOf(spans, spans.size());
  std::int64_t received = 0;
  totalSize = wanted;
  receivedSize = 0;
  if (notifyEnabled != 0) {
    Notify(NOTIFY_START);
    Notify(NOTIFY_SIZE);
    Notify(NOTIFY_PROGRESS);
  }
  std::int64_t highWater = 0;
  int fruitlessTransfers = 0;
  while (!spans.empty()) {
    std::size_t taken = 0;
    byteRanges_ = RangeValue(spans, taken);
    const RequestResult request = SendRequest(0);
    byteRanges_.clear();
    // The exchange sets the sizes of a whole file; the records count the spans'.
    totalSize = wanted;
    receivedSize = received;
    if (request == REQUEST_STOPPED) return DOWNLOAD_STOPPED;
    if (request == REQUEST_RETRY) {
      if (!RetryAllowed()) return failOrStop();
      continue;
    }
    if (request != REQUEST_OK) return DOWNLOAD_FAILED;
    std::optional<ByteRangesDecoder> decoder = PartsDecoder(responseHeader, fileSize);
    if (!decoder ||
        contentLength > fileSize + kPartOverheadBytes * static_cast<std::int64_t>(taken)) {
      return DOWNLOAD_FAILED;
    }
    PartsSink sink(std::move(*decoder), target);
    const Transfer transfer = TransferBody(sink);
    received = receivedSize;
    const std::int64_t before = BytesOf(spans, spans.size());
    spans = SpansLeft(spans, sink.arrived());
    switch (transfer) {
      case Transfer::kComplete:
        // Whole, and some of what was asked for came: a server that answers
        // with other parts would be asked the same for ever.
        if (!sink.Whole() || BytesOf(spans, spans.size()) == before) return DOWNLOAD_FAILED;
        continue;
      case Transfer::kStopped:
        return DOWNLOAD_STOPPED;
      case Transfer::kMalformed:
      case Transfer::kTooLarge:
        return DOWNLOAD_FAILED;
      case Transfer::kBroken:
        if (!ContinueAfterBreak(highWater, fruitlessTransfers)) return failOrStop();
        continue;
    }
  }
  return DOWNLOAD_OK;
}

}  // namespace http
