// A TLS client session as a pure transform over buffers: ciphertext that the
// caller received goes in, plaintext and ciphertext to send come out. The
// session never touches a socket and never waits, so the caller keeps its own
// time-outs, stop requests and proxies beneath it. Each system has one engine
// (OpenSSL on POSIX, Schannel on Windows); both verify the server's
// certificate chain and host name and speak TLS 1.2 or newer only.
#pragma once

#include <cstddef>
#include <memory>
#include <span>
#include <string>

namespace platform {

enum class TlsStatus {
  kOk,         // the step is done
  kWantInput,  // more ciphertext from the peer is needed (send PendingOutput first)
  kClosed,     // the peer ended the session with its close notification
  kUntrusted,  // the certificate did not verify: chain, host name or dates
  kFailed,     // anything else: a protocol error, an alert, garbage from the peer
};

// Whom the session trusts. Empty `caCertificates`: the system's trust store
// (on POSIX the library's default paths, so SSL_CERT_FILE and SSL_CERT_DIR
// apply). Otherwise the PEM certificates in it, and only those.
struct TlsTrust {
  std::string caCertificates;
};

class TlsSession {
 public:
  virtual ~TlsSession() = default;

  // Room for ciphertext from the peer: receive into it, then pass the count
  // to InputReceived. Never empty while the session has not failed.
  virtual std::span<char> InputSpace() = 0;
  virtual void InputReceived(std::size_t count) = 0;

  // Ciphertext the session wants sent, in order; OutputSent drops what was
  // sent from its front.
  virtual std::span<const char> PendingOutput() const = 0;
  virtual void OutputSent(std::size_t count) = 0;

  // Advances the handshake with the input so far: kOk once it is complete
  // and the peer verified; kWantInput to go on after sending and receiving.
  virtual TlsStatus Handshake() = 0;

  // Encrypts all of `data` into the pending output.
  virtual TlsStatus Write(std::span<const char> data) = 0;

  // Decrypts into `buffer` as much as the input so far holds: the count of
  // plaintext bytes with kOk (above 0), or 0 with kWantInput, kClosed or a
  // failure. Any pending output (e.g. a key update answer) must be sent too.
  virtual std::size_t Read(std::span<char> buffer, TlsStatus& status) = 0;
};

// A client session for `hostName` (a DNS name, or an IPv4 or IPv6 address
// without brackets, which is then matched against the certificate's IP
// addresses), ready for its
// first Handshake call. Null when this system has no TLS engine, the trust
// cannot be loaded (no certificate in `caCertificates`) or the library fails.
std::unique_ptr<TlsSession> CreateTlsSession(const std::string& hostName, const TlsTrust& trust);

}  // namespace platform
