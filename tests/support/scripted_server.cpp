#include "support/scripted_server.h"

#include <algorithm>
#include <chrono>
#include <random>
#include <thread>

namespace testsupport {

std::string ScriptedExchange::Read(std::size_t count) {
  const std::string bytes = connection_.Receive(count);
  return received_ += bytes, bytes;
}

std::string ScriptedExchange::ReadThrough(std::string_view terminator) {
  constexpr std::size_t kMaxRequestBytes = 64 * 1024;
  std::string bytes;
  while (bytes.size() < kMaxRequestBytes && !bytes.ends_with(terminator)) {
    const std::string next = Read(1);
    if (next.empty()) break;
    bytes += next;
  }
  return bytes;
}

std::string ScriptedExchange::RequestHeader(std::string_view name) const {
  const std::size_t at = request_.find("\r\n" + std::string(name) + ": ");
  if (at == std::string::npos) return {};
  const std::size_t start = at + name.size() + 4;
  return request_.substr(start, request_.find("\r\n", start) - start);
}

bool ScriptedExchange::Drip(std::string_view bytes, std::size_t piece, int pauseMs) {
  for (bool first = true; !bytes.empty(); first = false) {
    if (!first) std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
    if (!connection_.SendAll(bytes.substr(0, piece))) return false;
    bytes.remove_prefix(std::min(piece, bytes.size()));
  }
  return true;
}

bool ScriptedExchange::AwaitClientClose(int timeoutMs) {
  char buffer[4096];
  int n;
  while ((n = connection_.Receive(buffer, sizeof buffer, timeoutMs)) > 0) {
    received_.append(buffer, static_cast<std::size_t>(n));
  }
  // An error is the reset of a client that closed with data unread: gone as well.
  return n != TcpConnection::kTimedOut;
}

ScriptedServer::ScriptedServer(Script script, bool raw) : script_(std::move(script)), raw_(raw) {
  if (listener_.valid()) thread_ = std::thread([this] { Serve(); });
}

void ScriptedServer::Serve() {
  for (int index = 0; !stopping_.load();) {
    TcpConnection connection = listener_.Accept(50);  // a short wait, to see stopping_ soon
    if (!connection.valid()) continue;
    ScriptedExchange exchange(std::move(connection), index++, !raw_);
    if (raw_) {
      script_(exchange);
      exchange.AwaitClientClose(kDefaultWaitMs);
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
  return std::string(statusLine) + "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" +
         std::string(extraHeaders) + "\r\n" + std::string(body);
}

std::string PatternBytes(std::size_t size, unsigned seed) {
  std::independent_bits_engine<std::mt19937, 8, unsigned short> next(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(next());
  return bytes;
}

}  // namespace testsupport
