// The TLS engine on POSIX: OpenSSL 3 with a BIO of its own over two buffers.
// What the caller received is read straight out of the input buffer, and
// what OpenSSL writes is appended to the output buffer, so the only copy
// beyond OpenSSL's own is none.
#include <arpa/inet.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/tls_buffers.h"

namespace platform {
namespace {

struct SslCtxFree {
  void operator()(SSL_CTX* p) const { SSL_CTX_free(p); }
};
struct SslFree {
  void operator()(SSL* p) const { SSL_free(p); }
};
struct BioFree {
  void operator()(BIO* p) const { BIO_free(p); }
};
struct X509Free {
  void operator()(X509* p) const { X509_free(p); }
};

// The BIO that connects OpenSSL to the session's buffers; its data pointer
// is the session.
BIO_METHOD* BufferBioMethod();

class OpenSslSession final : public TlsBufferedSession {
 public:
  bool Start(const std::string& hostName, const TlsTrust& trust) {
    ctx_.reset(SSL_CTX_new(TLS_client_method()));
    if (!ctx_) return false;
    SSL_CTX_set_min_proto_version(ctx_.get(), TLS1_2_VERSION);
    SSL_CTX_set_verify(ctx_.get(), SSL_VERIFY_PEER, nullptr);
    SSL_CTX_set_read_ahead(ctx_.get(), 1);
    if (trust.caCertificates.empty()) {
      if (SSL_CTX_set_default_verify_paths(ctx_.get()) != 1) return false;
    } else if (!AddCertificates(trust.caCertificates)) {
      return false;
    }
    ssl_.reset(SSL_new(ctx_.get()));
    BIO* bio = BIO_new(BufferBioMethod());
    if (!ssl_ || bio == nullptr) {
      BIO_free(bio);
      return false;
    }
    BIO_set_data(bio, this);
    BIO_set_init(bio, 1);
    SSL_set_bio(ssl_.get(), bio, bio);  // the session owns it from here
    SSL_set_connect_state(ssl_.get());

    // An address is matched against the certificate's IP entries, and never
    // named in the server name extension.
    in6_addr address{};
    if (inet_pton(AF_INET, hostName.c_str(), &address) == 1 ||
        inet_pton(AF_INET6, hostName.c_str(), &address) == 1) {
      return X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl_.get()), hostName.c_str()) == 1;
    }
    SSL_set_hostflags(ssl_.get(), X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    return SSL_set1_host(ssl_.get(), hostName.c_str()) == 1 &&
           SSL_set_tlsext_host_name(ssl_.get(), hostName.c_str()) == 1;
  }

  TlsStatus Handshake() override {
    ERR_clear_error();
    const int result = SSL_connect(ssl_.get());
    if (result == 1) return TlsStatus::kOk;
    return Judge(result);
  }

  TlsStatus Write(std::span<const char> data) override {
    std::size_t done = 0;
    while (done < data.size()) {
      ERR_clear_error();
      std::size_t written = 0;
      const int result = SSL_write_ex(ssl_.get(), data.data() + done, data.size() - done, &written);
      if (result != 1) return Judge(result);
      done += written;
    }
    return TlsStatus::kOk;
  }

  std::size_t Read(std::span<char> buffer, TlsStatus& status) override {
    std::size_t total = 0;
    status = TlsStatus::kOk;
    while (total < buffer.size()) {
      ERR_clear_error();
      std::size_t got = 0;
      const int result =
          SSL_read_ex(ssl_.get(), buffer.data() + total, buffer.size() - total, &got);
      if (result != 1) {
        // Plaintext already decrypted goes first; the same state is met again
        // at the next call.
        if (total == 0) status = Judge(result);
        break;
      }
      total += got;
    }
    return total;
  }

  // The BIO's two directions.
  int ReadInput(char* to, int wanted) {
    const std::size_t count =
        std::min(inputEnd_ - inputBegin_, static_cast<std::size_t>(std::max(wanted, 0)));
    std::memcpy(to, input_.data() + inputBegin_, count);
    inputBegin_ += count;
    if (inputBegin_ == inputEnd_) inputBegin_ = inputEnd_ = 0;
    return static_cast<int>(count);
  }
  void AppendOutput(const char* from, int count) {
    output_.insert(output_.end(), from, from + count);
  }

 private:
  bool AddCertificates(const std::string& pem) {
    std::unique_ptr<BIO, BioFree> source(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    if (!source) return false;
    X509_STORE* store = SSL_CTX_get_cert_store(ctx_.get());
    int added = 0;
    for (;;) {
      std::unique_ptr<X509, X509Free> cert(
          PEM_read_bio_X509(source.get(), nullptr, nullptr, nullptr));
      if (!cert) break;
      if (X509_STORE_add_cert(store, cert.get()) != 1) return false;
      ++added;
    }
    ERR_clear_error();  // the end of the text reads as an error
    return added > 0;
  }

  TlsStatus Judge(int result) {
    switch (SSL_get_error(ssl_.get(), result)) {
      case SSL_ERROR_WANT_READ:
        return TlsStatus::kWantInput;
      case SSL_ERROR_ZERO_RETURN:
        return TlsStatus::kClosed;
      default:
        return SSL_get_verify_result(ssl_.get()) != X509_V_OK ? TlsStatus::kUntrusted
                                                              : TlsStatus::kFailed;
    }
  }

  std::unique_ptr<SSL_CTX, SslCtxFree> ctx_;
  std::unique_ptr<SSL, SslFree> ssl_;
  std::size_t inputBegin_ = 0;  // the next byte for OpenSSL
};

int BufferBioWrite(BIO* bio, const char* data, int length) {
  static_cast<OpenSslSession*>(BIO_get_data(bio))->AppendOutput(data, length);
  return length;
}

int BufferBioRead(BIO* bio, char* data, int length) {
  BIO_clear_retry_flags(bio);
  const int count = static_cast<OpenSslSession*>(BIO_get_data(bio))->ReadInput(data, length);
  // Nothing buffered is "try again after more input", never an end of file:
  // the end of the connection is the caller's to judge.
  if (count == 0) {
    BIO_set_retry_read(bio);
    return -1;
  }
  return count;
}

long BufferBioControl(BIO*, int command, long, void*) { return command == BIO_CTRL_FLUSH ? 1 : 0; }

BIO_METHOD* BufferBioMethod() {
  static BIO_METHOD* const method = [] {
    BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "session buffers");
    if (m != nullptr) {
      BIO_meth_set_write(m, BufferBioWrite);
      BIO_meth_set_read(m, BufferBioRead);
      BIO_meth_set_ctrl(m, BufferBioControl);
    }
    return m;
  }();
  return method;
}

}  // namespace

std::unique_ptr<TlsSession> CreateTlsSession(const std::string& hostName, const TlsTrust& trust) {
  auto session = std::make_unique<OpenSslSession>();
  if (BufferBioMethod() == nullptr || !session->Start(hostName, trust)) return nullptr;
  return session;
}

}  // namespace platform
