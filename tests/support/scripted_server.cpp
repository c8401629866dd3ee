#include "support/scripted_server.h"

#include <algorithm>
#include <chrono>

#include "http/header_text.h"

namespace testsupport {
namespace {

constexpr int kReadTimeoutMs = 5000;
constexpr int kSendTimeoutMs = 5000;
constexpr std::size_t kMaxRequestBytes = 64 * 1024;
constexpr int kAcceptPollMs = 50;

}  // namespace

ScriptedExchange::ScriptedExchange(TcpConnection connection, int index, bool readRequest)
    : connection_(std::move(connection)), index_(index) {
  if (readRequest) request_ = ReadThrough("\r\n\r\n");
}

std::string ScriptedExchange::Read(std::size_t count) {
  std::string bytes = connection_.Receive(count, kReadTimeoutMs);
  received_ += bytes;
  return bytes;
}

std::string ScriptedExchange::ReadThrough(std::string_view terminator) {
  std::string bytes;
  while (bytes.size() < kMaxRequestBytes && !bytes.ends_with(terminator)) {
    const std::string next = Read(1);
    if (next.empty()) break;
    bytes += next;
  }
  return bytes;
}

std::string ScriptedExchange::RequestHeader(std::string_view name) const {
  std::string_view rest = request_;  // the request line first, then one header line a pass
  for (std::size_t end = rest.find("\r\n"); end != std::string_view::npos;
       end = rest.find("\r\n")) {
    rest.remove_prefix(end + 2);
    const std::string_view line = rest.substr(0, rest.find("\r\n"));
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos || !http::EqualsIgnoreCase(line.substr(0, colon), name)) {
      continue;
    }
    std::string_view value = line.substr(colon + 1);
    while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
    return std::string(value);
  }
  return {};
}

bool ScriptedExchange::Send(std::string_view bytes) {
  return connection_.SendAll(bytes, kSendTimeoutMs);
}

bool ScriptedExchange::Drip(std::string_view bytes, std::size_t piece, int pauseMs) {
  while (!bytes.empty()) {
    const std::size_t n = std::min(piece, bytes.size());
    if (!connection_.SendAll(bytes.substr(0, n), kSendTimeoutMs)) return false;
    bytes.remove_prefix(n);
    if (!bytes.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
  }
  return true;
}

bool ScriptedExchange::AwaitClientClose(int timeoutMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  char buffer[4096];
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          end - std::chrono::steady_clock::now())
                          .count();
    if (left <= 0) return false;
    const int n = connection_.Receive(buffer, sizeof buffer, static_cast<int>(left));
    if (n > 0) received_.append(buffer, static_cast<std::size_t>(n));
    // -1 is a time-out at the deadline, or before it an error such as the
    // reset of a client that closed with data unread: gone as well.
    if (n <= 0) return n == 0 || std::chrono::steady_clock::now() < end;
  }
}

ScriptedServer::ScriptedServer(Script script, bool raw) : script_(std::move(script)), raw_(raw) {
  if (listener_.valid()) thread_ = std::thread([this] { Serve(); });
}

void ScriptedServer::Stop() {
  stopping_.store(true);
  if (thread_.joinable()) thread_.join();
}

std::string ScriptedServer::Url(std::string_view path) const {
  return "http://127.0.0.1:" + std::to_string(port()) + std::string(path);
}

std::vector<std::string> ScriptedServer::Requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

int ScriptedServer::ConnectionCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(requests_.size());
}

void ScriptedServer::Serve() {
  int index = 0;
  while (!stopping_.load()) {
    TcpConnection connection = listener_.Accept(kAcceptPollMs);
    if (!connection.valid()) continue;
    ScriptedExchange exchange(std::move(connection), index++, !raw_);
    if (raw_) {
      script_(exchange);
      exchange.AwaitClientClose(kReadTimeoutMs);
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      requests_.push_back(raw_ ? exchange.received() : exchange.request());
    }
    if (!raw_ && !exchange.request().empty()) script_(exchange);
  }
}

std::string HttpResponse(std::string_view statusLine, std::string_view extraHeaders,
                         std::string_view body) {
  std::string text(statusLine);
  text += "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n";
  text += extraHeaders;
  text += "\r\n";
  text += body;
  return text;
}

std::string PatternBytes(std::size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  std::uint32_t x = 2463534242u ^ (seed * 2654435761u);
  for (char& c : bytes) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    c = static_cast<char>(x & 0xFF);
  }
  return bytes;
}

}  // namespace testsupport
