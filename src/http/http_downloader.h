// The download engine: fetches one URL over HTTP/1.1 into one local file,
// resuming from a temporary file, skipping a file that is already current, and
// handing progress records to a callback of the caller's choice.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "http/byte_ranges.h"
#include "http/http_date.h"
#include "http/partial_file.h"
#include "http/proxy_address.h"
#include "http/retry_schedule.h"
#include "net/event_socket.h"
#include "net/socket_library.h"
#include "net/socket_reader.h"
#include "net/tls_channel.h"
#include "platform/files.h"
#include "platform/proxy_authentication.h"

namespace http {

enum DownloadResult {
  DOWNLOAD_OK = 0,
  DOWNLOAD_UP_TO_DATE = 1,
  DOWNLOAD_STOPPED = 2,
  DOWNLOAD_FAILED = 3,
};

// RETRY_RUN: transient failures are retried with growing pauses until
// retryBudget ms pass without a byte of progress (the updater's own runs).
enum RetryMode { RETRY_NONE = 0, RETRY_LIMITED = 1, RETRY_FOREVER = 2, RETRY_RUN = 3 };

enum ProxyKind {
  PROXY_NONE = 0,
  PROXY_HTTP = 1,
  // 2 is not supported
  PROXY_SOCKS4 = 3,
  PROXY_SOCKS4A = 4,
  PROXY_SOCKS5 = 5,
  // SOCKS5 with the host name, never resolved here first (socks5h).
  PROXY_SOCKS5_HOSTNAME = 6,
};

enum RequestResult {
  REQUEST_OK = 0,
  REQUEST_RETRY = 1,
  REQUEST_STOPPED = 2,
  REQUEST_FAILED = 3,
};

enum HeaderResult {
  HEADER_OK = 0,
  HEADER_RETRY = 1,
  HEADER_REDIRECT = 2,
  HEADER_FAILED = 3,
};

// NOTIFY_RETRY goes out before the pause ahead of a retry.
enum NotifyCode { NOTIFY_SIZE = 1, NOTIFY_START = 2, NOTIFY_PROGRESS = 3, NOTIFY_RETRY = 4 };

// Why a request is tried again: the step of its exchange that failed.
enum class RetryCause {
  kNone,
  kConnect,   // no connection to the server or the proxy, or the proxy's handshake failed
  kSend,      // the request could not be sent
  kNoAnswer,  // the connection broke or went silent before the response's header
  kStatus,    // the server answered with a status worth another try (429, 5xx ...)
  kBroken,    // transfers of the body kept breaking off without adding a byte
};

// How the body of a response ends: after Content-Length bytes, with the
// terminating chunk of a chunked body, or with the close of the connection.
enum class BodyFraming { kLength, kChunked, kClose };

// Bounds that keep a misbehaving server from holding a request forever.
inline constexpr int kMaxRedirects = 20;
inline constexpr int kMaxSendTimeouts = 3;
// Consecutive transfers that add no byte to the temporary file before they
// count as one transient failure under the retry policy.
inline constexpr int kMaxFruitlessTransfers = 3;
// The connection's reader holds this much; progress is reported in blocks
// of at most this size.
inline constexpr std::int32_t kBodyBlockSize = 10240;
// Once the bytes that came with the header are used up, the body is received
// straight into a buffer of this size and written with one call, so a fast
// link costs a few system calls per 256 KiB instead of several per block.
inline constexpr std::int32_t kBodyReceiveSize = 256 * 1024;

// A progress record; valid only during the call that receives it. totalSize
// is -1 while the body's length is unknown.
struct DownloadProgress {
  int code = 0;
  std::int64_t totalSize = 0;
  std::int64_t receivedSize = 0;
  std::string fileName;
  // With NOTIFY_RETRY: why, the status of the answer (kStatus), the
  // system's error code of the socket call that failed (0: none), and the
  // pause before the next try in ms.
  RetryCause retryCause = RetryCause::kNone;
  int status = 0;
  std::int32_t systemError = 0;
  std::int64_t pauseMs = 0;
};

// Receives the records on the thread that runs the operation, which waits
// until the call returns.
using ProgressCallback = std::function<void(const DownloadProgress& record)>;

// One exchange as a caller's trace shows it: what was asked of whom, along
// which way, and the status of the answer. Never the proxy's credentials.
struct ExchangeRecord {
  const char* method = "GET";
  std::string url;                // as asked for, after the redirects before it
  std::int64_t resumeOffset = 0;  // the first byte asked for; 0: the whole body
  int proxyKind = 0;              // an http::ProxyKind; PROXY_NONE: direct
  std::string proxyHost;
  std::uint16_t proxyPort = 0;
  std::string peer;  // the address connected to; empty when the system cannot say
  int status = 0;
};

using ExchangeCallback = std::function<void(const ExchangeRecord& record)>;

// Splits an http or https URL into host, object (path and query) and port
// (by default 80, or 443 for https); `tls` says whether it is https. An IPv6
// address stands in brackets ("http://[::1]:8080/"); `host` then holds it
// without them. The outputs are always overwritten. Nonzero when the URL was
// understood; a URL with a control byte, which could end a request line
// early, a port that is not a decimal number from 1 to 65535, or brackets
// around anything but an IPv6 address, is never understood.
int ParseUrl(const std::string& url, std::string& host, std::string& object, std::uint16_t& port,
             int& tls);
int ParseUrl(const std::string& url, std::string& host, std::string& object, std::uint16_t& port);

inline std::uint16_t DefaultPort(int tls) { return tls != 0 ? 443 : 80; }

// Whether the file at `path` is the one a server describes by `size` and
// `time` (its Last-Modified): of that size, and stamped with that time give
// or take two seconds (file systems that keep times in 2-second steps).
bool FileIsCurrent(const std::string& path, std::int64_t size, HttpTime time);

// Where the bytes of a response body go as they arrive.
class BodySink {
 public:
  enum class Verdict { kTaken, kWriteFailed, kMalformed };
  virtual ~BodySink() = default;
  // The next `size` bytes of the body; `kept` is set to how many bytes of
  // the file they held (the progress records count those).
  virtual Verdict Take(const char* data, std::size_t size, std::size_t& kept) = 0;
};

// `host` as a URL and the Host field write it: an IPv6 address in brackets.
std::string UrlHost(const std::string& host);

class ProxyPolicy;

class HttpDownloader {
 public:
  HttpDownloader();
  virtual ~HttpDownloader();
  HttpDownloader(const HttpDownloader&) = delete;
  HttpDownloader& operator=(const HttpDownloader&) = delete;

  // Progress records go to `callback` from now on; an empty one turns them off.
  void SetProgressCallback(ProgressCallback callback);

  // HEAD request: nonzero on success; the outputs are written only then.
  // contentLength is -1 when the answer announced no length.
  int QueryInfo(const std::string& url, std::int64_t& contentLength, HttpTime& lastModified);
  DownloadResult Download(const std::string& url, const std::string& targetFile, int forceDownload);
  // Fetches the byte spans `spans` (in order, apart from each other) of the
  // file of `fileSize` bytes at `url` into `target`, each at its own offset:
  // several spans to a request (a multipart/byteranges answer, or a single
  // part), and after a break only what is still missing, under the retry
  // policy. The progress records count the spans' bytes. DOWNLOAD_FAILED
  // when an answer is not the parts asked for (a 200 from a server that
  // ignores Range, a part of another file size or beyond what it announced,
  // a malformed body), or when a complete answer brought nothing new.
  DownloadResult DownloadRanges(const std::string& url, platform::File& target,
                                std::int64_t fileSize, std::vector<ByteSpan> spans);

  // Asks the running operation, from any thread, to stop at its next poll.
  void RequestStop() { stopRequested.store(1); }

  // Request exchange (used by QueryInfo and Download). OpenConnection drops
  // the previous connection, connects to `name`:`toPort` (every address of
  // the name in turn, within connectTimeout) and makes the connection's
  // reader: nonzero when both exist.
  int OpenConnection(const std::string& name, std::uint16_t toPort);
  void CloseConnection();
  RequestResult SendRequest(int head);

  // State of the current job and the response, then the settings.
  std::string url;
  std::string targetFile;
  std::string tempFile;
  std::atomic<int> stopRequested{0};
  int forceDownload = 0;
  int resumeTransfer = 0;
  // Sizes are 64-bit; totalSize and contentLength are -1 for a body whose
  // length is known only once it has ended (chunked, or up to the close).
  std::int64_t totalSize = 0;
  std::int64_t receivedSize = 0;
  std::int64_t contentLength = 0;
  std::int64_t transferredSize = 0;
  BodyFraming framing = BodyFraming::kLength;
  std::int32_t responseHeaderLength = 0;
  std::string responseHeader;
  HttpTime lastModified = 0;
  // Nonzero when lastModified is the server's own Last-Modified, 0 when the
  // response had none (lastModified is then the time of the response).
  int lastModifiedFromServer = 0;
  std::string referer;
  std::string userAgent = "HttpDownload/2.0";
  std::int32_t connectTimeout = 30000;
  std::int32_t receiveTimeout = 30000;
  std::int32_t sendTimeout = 30000;
  // The largest file a Download accepts; a response announcing more fails
  // before its body is read, one of unknown length as soon as it grows past
  // it. 0: no limit.
  std::int64_t maxSize = 0;
  // The size the whole file must have, when it is known beforehand (a
  // signed package): a response announcing another fails before its body is
  // read. 0: any size.
  std::int64_t exactSize = 0;
  int retryMode = RETRY_NONE;
  int retryCount = 0;
  // Pause before each retry in ms. 0: none under RETRY_LIMITED, growing
  // pauses with jitter (1 s, 2 s, 4 s ... 30 s) under RETRY_FOREVER and
  // RETRY_RUN, and under RETRY_LIMITED with retryBackoff (retry_schedule.h).
  std::int32_t retryDelay = 0;
  // Nonzero: growing pauses without a retryDelay, and a server's Retry-After
  // honoured, whatever the mode (RETRY_RUN always does both).
  int retryBackoff = 0;
  std::int32_t maxRetries = 0;
  // RETRY_RUN gives up once this many ms passed without a byte of progress.
  std::int64_t retryBudget = 10 * 60 * 1000;
  // A transfer during which fewer than lowSpeedLimit bytes arrive in
  // lowSpeedTime seconds is broken (and retried like any break). 0 in
  // either: no such limit.
  std::int64_t lowSpeedLimit = 1024;
  std::int32_t lowSpeedTime = 60;
  // Nonzero while a progress callback is set.
  int notifyEnabled = 0;
  // Told every exchange once its response header has been read; none: no trace.
  ExchangeCallback exchangeCallback;
  int useAuth = 0;
  std::string authUser;
  std::string authPassword;
  std::string proxyHost;
  std::uint16_t proxyPort = 0;
  int proxyKind = PROXY_NONE;
  int proxyAuth = 0;
  std::string proxyUser;
  std::string proxyPassword;
  // While proxyKind is PROXY_NONE, chooses the proxy of each request from the
  // user's settings; none: every request goes as the six settings above say.
  std::shared_ptr<ProxyPolicy> proxyPolicy;
  std::string host;
  std::string object;
  std::string fileName;
  std::uint16_t port = 80;
  // Nonzero while the target is https: the connection then carries TLS, and
  // no redirect leads back to plain http.
  int useTls = 0;
  // PEM CA certificates that alone are trusted for https; empty: the
  // system's trust.
  std::string caCertificates;
  net::SocketHandle connection = net::kInvalidSocket;
  std::unique_ptr<net::SocketReader> socketReader;
  std::unique_ptr<net::TlsChannel> tlsChannel;
  // First byte and whole size ("*": -1) of the last 206 response's
  // Content-Range; -1 for other responses.
  std::int64_t contentRangeStart = -1;
  std::int64_t contentRangeComplete = -1;

 protected:
  // The request text for the current target; `resume` with an offset above 0
  // adds the Range line, and If-Range when it has a validator. False when a
  // value holds a control byte.
  bool ComposeRequest(int head, const PartialFile& resume, std::string& text) const;
  // Judges a response header block: status code and Content-Length out;
  // writes lastModified, lastModifiedFromServer and the Content-Range, and on
  // a redirect url, host, object, port and referer.
  // length is -1 when the body's framing gives none.
  HeaderResult ParseResponseHeader(const std::string& block, std::int64_t& length, int& status);

  // Takes the URL of a new operation (trimmed, "http://" put in front when it
  // has no scheme); the server's credentials go only to its host and port.
  bool TakeUrl(const std::string& given);

  // The Proxy-Authorization line when the route has credentials (or a
  // handshake with the proxy is under way), else nothing.
  std::string ProxyAuthorizationLine() const;

  // The way the current connection goes (chosen for each attempt by
  // SendRequest), for composing a request without one.
  void SetRoute(ProxyRoute route) { route_ = std::move(route); }
  // Told each route before a connection is tried along it (a front end's trace).
  virtual void ReportRoute(const ProxyRoute&) {}
  // The exchange that answers a proxy asking for `scheme` (NTLM, Negotiate):
  // by default the system's, with the route's credentials or else the
  // logged-on user's.
  virtual std::unique_ptr<platform::AuthExchange> StartProxyAuthExchange(const std::string& scheme);

  // Sends one progress record when notification is enabled.
  void Notify(int code);

  // The clock of the retry policy (ms of a steady clock) and its pause,
  // which returns early, false, when a stop is asked for. Tests replace
  // both, so that no test waits out a real pause.
  virtual std::int64_t NowMs() const;
  virtual bool PauseBeforeRetry(std::int64_t ms);

 private:
  // The routes for the current target, in the order to try them: the fixed
  // proxy settings, or proxyPolicy's choice. Empty: none may be used.
  std::vector<ProxyRoute> Routes() const;
  // Connects along route_ (REQUEST_RETRY: another attempt, or another route,
  // may get through).
  RequestResult Connect();
  // Over the connected socket: the CONNECT tunnel through an HTTP proxy when
  // one is set, then the TLS handshake with the server.
  RequestResult StartTls();
  // Sends the whole request, in TLS when the connection carries it.
  bool SendAll(const std::string& text);
  // Sends `text` and reads the answer's header block into `block`.
  RequestResult RoundTrip(const std::string& text, std::string& block);
  // The request again with the Proxy-Authorization line given, for a
  // connection that stays open when `hold` is set: false when it cannot be
  // composed.
  using ComposeWithAuthorization =
      std::function<bool(const std::string& authorization, bool hold, std::string& text)>;
  // After the proxy's answer in `block`: when it is a 407 offering Negotiate
  // or NTLM and an exchange can answer it, the handshake on a fresh connection
  // held open for it, leaving the proxy's last answer in `block` (a 407 again
  // is a refusal). REQUEST_OK unless the handshake broke or failed.
  RequestResult AnswerProxyChallenge(std::string& block, const ComposeWithAuthorization& compose);
  // Up to `wanted` body bytes: first those buffered in socketReader, then
  // straight from the connection, waiting at most `timeoutMs`. 0 when the
  // server closed the connection, -1 on a failure or time-out (code stored).
  int ReceiveBody(char* destination, int wanted, std::uint32_t timeoutMs);
  // Whether a 206 answer continues the partial file the request was sent for.
  bool ContinuesPartialFile(const PartialFile& resume) const;
  // Whether targetFile already holds what the accepted response would bring.
  bool TargetIsCurrent() const { return FileIsCurrent(targetFile, totalSize, lastModified); }
  // Opens the temporary file for the accepted response: at its end for a
  // resume, else emptied, with the record of what it will hold.
  bool OpenTemporaryFile(platform::File& file);
  // kMalformed: a chunked body broke its framing. kTooLarge: a body of
  // unknown length grew past maxSize.
  enum class Transfer { kComplete, kBroken, kStopped, kMalformed, kTooLarge };
  // Hands the body of the accepted response to `sink` until it is whole
  // (by its framing), the connection breaks or stalls below the low-speed
  // limit, or a stop is asked for.
  Transfer TransferBody(BodySink& sink);
  // After a transfer that broke: true to go on at once (it brought bytes
  // beyond `highWater`, the most held so far, or too few breaks came in a
  // row to count as a failure) or after the retry policy's pause.
  bool ContinueAfterBreak(std::int64_t& highWater, int& fruitlessTransfers);
  // Whether the operation is to stop: its own stopRequested, or a stop flag
  // that the thread's owner put in place around it (net::ScopedStopFlag),
  // which the start of an operation does not clear.
  bool StopAsked() const { return stopRequested.load() != 0 || net::StopRequested(); }
  // Applies the retry policy to one transient failure, announces the retry
  // and pauses: true to go on.
  bool RetryAllowed();
  // Records why the request is to be tried again: the socket's error, or for
  // kStatus the answer's `status`. REQUEST_RETRY.
  RequestResult Retry(RetryCause cause, int status = 0);
  // The trace of the exchange about to be judged: the one under way.
  ExchangeRecord CurrentExchange(int head, std::int64_t resumeOffset) const;

  ProgressCallback progress_;
  // The last retry's cause and details, for its NOTIFY_RETRY record.
  RetryCause retryCause_ = RetryCause::kNone;
  int retryStatus_ = 0;
  std::int32_t retryError_ = 0;
  std::int64_t retryPauseMs_ = 0;
  std::string peer_;  // the address the current connection reaches
  std::vector<char> bodyBuffer_;
  RetrySchedule retrySchedule_;
  // The last retryable answer's Retry-After, in ms.
  std::optional<std::int64_t> retryAfterMs_;
  ProxyRoute route_;
  // During a handshake with the proxy: the Proxy-Authorization line, and
  // whether the connection must stay open after the answer.
  std::string proxyAuthorization_;
  bool holdConnection_ = false;
  std::string authHost_;
  std::uint16_t authPort_ = 0;
  // The Range value of DownloadRanges' current request; empty otherwise.
  std::string byteRanges_;
};

}  // namespace http
