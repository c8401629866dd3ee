// An HTTP server in the test process that answers each connection with a
// script of the test's choosing, for what real servers will not do: drop the
// connection, answer garbage, send too much or too slowly. It listens on
// 127.0.0.1 at a port the system picks and serves one connection at a time
// on a thread of its own; every wait is bounded.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "support/loopback_tcp.h"

namespace testsupport {

// One accepted connection. An HTTP server's exchange has its request read
// already; a raw one (a scripted proxy) reads what it wants itself. Every
// byte read is kept.
class ScriptedExchange {
 public:
  ScriptedExchange(TcpConnection connection, int index, bool readRequest)
      : connection_(std::move(connection)), index_(index) {
    if (readRequest) request_ = ReadThrough("\r\n\r\n");
  }

  // The request header up to and including the empty line; "" when none came.
  const std::string& request() const { return request_; }
  // Which connection this is, counting from 0.
  int index() const { return index_; }
  // The value of the request's header line "`name`: value", "" when it has none.
  std::string RequestHeader(std::string_view name) const;
  // Exactly `count` bytes; fewer when the client closes or stalls.
  std::string Read(std::size_t count);
  // Through the end of the first `terminator` (or as far as the client sends).
  std::string ReadThrough(std::string_view terminator);
  // Everything read from the connection so far.
  const std::string& received() const { return received_; }
  bool Send(std::string_view bytes) { return connection_.SendAll(bytes); }
  // Sends `bytes` in pieces of `piece` bytes with `pauseMs` between them.
  bool Drip(std::string_view bytes, std::size_t piece, int pauseMs);
  // Waits for the client to close; true when it did within `timeoutMs`.
  // Whatever it sends meanwhile is kept.
  bool AwaitClientClose(int timeoutMs);
  void Close() { connection_.Close(); }

 private:
  TcpConnection connection_;
  int index_;
  std::string request_;
  std::string received_;
};

class ScriptedServer {
 public:
  using Script = std::function<void(ScriptedExchange&)>;
  // `raw`: the script reads the connection itself, and what each connection
  // brought is recorded once the script and the client are done.
  explicit ScriptedServer(Script script, bool raw = false);
  ~ScriptedServer() { Stop(); }

  std::uint16_t port() const { return listener_.port(); }
  // "http://127.0.0.1:PORT" + path
  std::string Url(std::string_view path) const {
    return "http://127.0.0.1:" + std::to_string(port()) + std::string(path);
  }
  // The requests seen so far, in order (raw: every byte of each connection).
  std::vector<std::string> Requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }
  int ConnectionCount() const { return static_cast<int>(Requests().size()); }
  // Stops accepting once the current connection's script has ended.
  void Stop() {
    stopping_.store(true);
    if (thread_.joinable()) thread_.join();
  }

 private:
  void Serve();

  TcpListener listener_;
  Script script_;
  bool raw_;
  std::atomic<bool> stopping_{false};
  mutable std::mutex mutex_;
  std::vector<std::string> requests_;
  std::thread thread_;
};

// "HTTP/1.1 200 OK" with Content-Length and the given extra lines (each
// ending in CR LF), then the body.
std::string HttpResponse(std::string_view statusLine, std::string_view extraHeaders,
                         std::string_view body);

// `size` bytes of a repeatable pattern that differs for each `seed`.
std::string PatternBytes(std::size_t size, unsigned seed = 1);

}  // namespace testsupport
