// The TLS engine on Windows: Schannel through SSPI, which works on buffers
// by nature. Schannel is told to leave the server's certificate to us (wine's
// Schannel would not check it at all): the chain is built with the system's
// store, or against the caller's CA certificates alone, and must pass the
// SSL policy for the host name (dates and usage with it).
#include "platform/win32/windows_api.h"

// clang-format off
#define SECURITY_WIN32
#define SCHANNEL_USE_BLACKLISTS
#include <subauth.h>
#include <security.h>
#include <schannel.h>
#include <wincrypt.h>
// clang-format on

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "platform/tls_buffers.h"
#include "platform/win32/wide_text.h"

namespace platform {
namespace {

constexpr DWORD kContextRequest = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT |
                                  ISC_REQ_CONFIDENTIALITY | ISC_REQ_EXTENDED_ERROR |
                                  ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM;

// Whether `bytes` can start a TLS record: a content type from 20 to 23
// (change cipher spec, alert, handshake, application data) and major version
// 3. Some Schannels wait for more of an answer that is no TLS at all (a
// plain HTTP server's, say) instead of refusing it.
bool StartsTlsRecord(const char* bytes, std::size_t count) {
  if (count < 2) return true;
  const auto type = static_cast<unsigned char>(bytes[0]);
  return type >= 20 && type <= 23 && bytes[1] == 3;
}

// Windows 10 1809 (build 17763) is the first whose Schannel takes
// SCH_CREDENTIALS and with it TLS 1.3. The version comes from ntdll, which
// unlike GetVersionEx does not depend on the program's manifest.
bool HasTls13Credentials() {
  using RtlGetVersionCall = LONG(WINAPI*)(OSVERSIONINFOW*);
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  if (ntdll == nullptr) return false;
  const auto getVersion = reinterpret_cast<RtlGetVersionCall>(
      reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion")));
  OSVERSIONINFOW version{};
  version.dwOSVersionInfoSize = sizeof version;
  if (getVersion == nullptr || getVersion(&version) != 0) return false;
  return version.dwMajorVersion > 10 ||
         (version.dwMajorVersion == 10 && version.dwBuildNumber >= 17763);
}

constexpr DWORD kCredentialFlags =
    SCH_CRED_NO_DEFAULT_CREDS | SCH_USE_STRONG_CRYPTO | SCH_CRED_MANUAL_CRED_VALIDATION;

// TLS 1.2 and 1.3 through SCH_CREDENTIALS where the system has it, else
// TLS 1.2 through SCHANNEL_CRED: 1.2 is the floor either way. A system that
// claims the new structure but refuses it gets the old one.
bool AcquireClientCredentials(CredHandle& credentials) {
  char package[] = UNISP_NAME_A;
  TimeStamp expiry{};
  if (HasTls13Credentials()) {
    TLS_PARAMETERS parameters{};
    parameters.grbitDisabledProtocols =
        static_cast<DWORD>(~(SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT));
    SCH_CREDENTIALS settings{};
    settings.dwVersion = SCH_CREDENTIALS_VERSION;
    settings.dwFlags = kCredentialFlags;
    settings.cTlsParameters = 1;
    settings.pTlsParameters = &parameters;
    if (AcquireCredentialsHandleA(nullptr, package, SECPKG_CRED_OUTBOUND, nullptr, &settings,
                                  nullptr, nullptr, &credentials, &expiry) == SEC_E_OK) {
      return true;
    }
  }
  SCHANNEL_CRED settings{};
  settings.dwVersion = SCHANNEL_CRED_VERSION;
  settings.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT;
  settings.dwFlags = kCredentialFlags;
  return AcquireCredentialsHandleA(nullptr, package, SECPKG_CRED_OUTBOUND, nullptr, &settings,
                                   nullptr, nullptr, &credentials, &expiry) == SEC_E_OK;
}

bool IsCertificateError(SECURITY_STATUS status) {
  switch (status) {
    case SEC_E_UNTRUSTED_ROOT:
    case SEC_E_WRONG_PRINCIPAL:
    case SEC_E_CERT_EXPIRED:
    case SEC_E_CERT_UNKNOWN:
    case SEC_E_CERT_WRONG_USAGE:
    case CERT_E_EXPIRED:
    case CERT_E_UNTRUSTEDROOT:
    case CERT_E_CN_NO_MATCH:
    case CERT_E_CHAINING:
    case CERT_E_WRONG_USAGE:
      return true;
    default:
      return false;
  }
}

class CertStore {
 public:
  CertStore() = default;
  explicit CertStore(HCERTSTORE store) : store_(store) {}
  ~CertStore() {
    if (store_ != nullptr) CertCloseStore(store_, 0);
  }
  CertStore(CertStore&& o) noexcept : store_(std::exchange(o.store_, nullptr)) {}
  CertStore& operator=(CertStore&& o) noexcept {
    std::swap(store_, o.store_);
    return *this;
  }
  HCERTSTORE get() const { return store_; }

 private:
  HCERTSTORE store_ = nullptr;
};

// A memory store with every PEM certificate of `pem`; empty when it has none.
CertStore StoreFromPem(const std::string& pem) {
  CertStore store(CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr));
  if (store.get() == nullptr) return {};
  static const char kBegin[] = "-----BEGIN CERTIFICATE-----";
  static const char kEnd[] = "-----END CERTIFICATE-----";
  int added = 0;
  for (std::size_t at = pem.find(kBegin); at != std::string::npos; at = pem.find(kBegin, at)) {
    const std::size_t end = pem.find(kEnd, at);
    if (end == std::string::npos) break;
    const std::size_t stop = end + sizeof kEnd - 1;
    DWORD size = 0;
    const char* text = pem.data() + at;
    const DWORD length = static_cast<DWORD>(stop - at);
    if (CryptStringToBinaryA(text, length, CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr,
                             nullptr)) {
      std::vector<BYTE> der(size);
      if (CryptStringToBinaryA(text, length, CRYPT_STRING_BASE64HEADER, der.data(), &size, nullptr,
                               nullptr) &&
          CertAddEncodedCertificateToStore(store.get(), X509_ASN_ENCODING, der.data(), size,
                                           CERT_STORE_ADD_ALWAYS, nullptr)) {
        ++added;
      }
    }
    at = stop;
  }
  return added > 0 ? std::move(store) : CertStore();
}

class SchannelSession final : public TlsBufferedSession {
 public:
  ~SchannelSession() override {
    if (haveContext_) DeleteSecurityContext(&context_);
    if (haveCredentials_) FreeCredentialsHandle(&credentials_);
  }

  bool Start(const std::string& hostName, const TlsTrust& trust) {
    hostName_ = hostName;
    if (!trust.caCertificates.empty()) {
      caStore_ = StoreFromPem(trust.caCertificates);
      if (caStore_.get() == nullptr) return false;
    }
    if (!AcquireClientCredentials(credentials_)) return false;
    haveCredentials_ = true;
    return true;
  }

  TlsStatus Handshake() override {
    if (failed_) return TlsStatus::kFailed;
    if (established_) return TlsStatus::kOk;
    for (;;) {
      SecBuffer in[2] = {{static_cast<unsigned long>(inputEnd_), SECBUFFER_TOKEN, input_.data()},
                         {0, SECBUFFER_EMPTY, nullptr}};
      SecBufferDesc inDesc{SECBUFFER_VERSION, 2, in};
      SecBuffer out[2] = {{0, SECBUFFER_TOKEN, nullptr}, {0, SECBUFFER_ALERT, nullptr}};
      SecBufferDesc outDesc{SECBUFFER_VERSION, 2, out};
      unsigned long attributes = 0;
      TimeStamp expiry{};
      const bool first = !haveContext_;
      if (!first && inputEnd_ == 0) return TlsStatus::kWantInput;
      if (!StartsTlsRecord(input_.data(), inputEnd_)) {
        failed_ = true;
        return TlsStatus::kFailed;
      }
      const SECURITY_STATUS status = InitializeSecurityContextA(
          &credentials_, first ? nullptr : &context_, const_cast<char*>(hostName_.c_str()),
          kContextRequest, 0, 0, first ? nullptr : &inDesc, 0, &context_, &outDesc, &attributes,
          &expiry);
      if (first && (status == SEC_I_CONTINUE_NEEDED || status == SEC_E_OK)) haveContext_ = true;
      for (SecBuffer& b : out) {
        if (b.pvBuffer == nullptr) continue;
        if (b.BufferType == SECBUFFER_TOKEN || b.BufferType == SECBUFFER_ALERT) {
          const char* bytes = static_cast<const char*>(b.pvBuffer);
          output_.insert(output_.end(), bytes, bytes + b.cbBuffer);
        }
        FreeContextBuffer(b.pvBuffer);
      }
      if (status == SEC_E_INCOMPLETE_MESSAGE) return TlsStatus::kWantInput;
      if (!first) KeepExtra(in[1]);
      switch (status) {
        case SEC_I_CONTINUE_NEEDED:
        case SEC_I_INCOMPLETE_CREDENTIALS:
          if (first || inputEnd_ > 0) continue;
          return TlsStatus::kWantInput;
        case SEC_E_OK:
          return Established();
        default:
          failed_ = true;
          return IsCertificateError(status) ? TlsStatus::kUntrusted : TlsStatus::kFailed;
      }
    }
  }

  TlsStatus Write(std::span<const char> data) override {
    if (!established_) return TlsStatus::kFailed;
    while (!data.empty()) {
      const std::size_t piece = std::min<std::size_t>(data.size(), sizes_.cbMaximumMessage);
      const std::size_t start = output_.size();
      output_.resize(start + sizes_.cbHeader + piece + sizes_.cbTrailer);
      char* at = output_.data() + start;
      std::memcpy(at + sizes_.cbHeader, data.data(), piece);
      SecBuffer buffers[4] = {
          {sizes_.cbHeader, SECBUFFER_STREAM_HEADER, at},
          {static_cast<unsigned long>(piece), SECBUFFER_DATA, at + sizes_.cbHeader},
          {sizes_.cbTrailer, SECBUFFER_STREAM_TRAILER, at + sizes_.cbHeader + piece},
          {0, SECBUFFER_EMPTY, nullptr}};
      SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
      if (EncryptMessage(&context_, 0, &desc, 0) != SEC_E_OK) {
        output_.resize(start);
        return TlsStatus::kFailed;
      }
      output_.resize(start + buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer);
      data = data.subspan(piece);
    }
    return TlsStatus::kOk;
  }

  std::size_t Read(std::span<char> buffer, TlsStatus& status) override {
    status = TlsStatus::kOk;
    std::size_t total = TakePlaintext(buffer);
    while (total < buffer.size() && inputEnd_ > 0 && !closed_) {
      SecBuffer buffers[4] = {
          {static_cast<unsigned long>(inputEnd_), SECBUFFER_DATA, input_.data()},
          {0, SECBUFFER_EMPTY, nullptr},
          {0, SECBUFFER_EMPTY, nullptr},
          {0, SECBUFFER_EMPTY, nullptr}};
      SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
      const SECURITY_STATUS result = DecryptMessage(&context_, &desc, 0, nullptr);
      if (result == SEC_E_INCOMPLETE_MESSAGE) break;
      if (result != SEC_E_OK && result != SEC_I_CONTEXT_EXPIRED && result != SEC_I_RENEGOTIATE) {
        if (total == 0) status = TlsStatus::kFailed;
        return total;
      }
      // The plaintext lies in the input buffer, before any extra bytes:
      // it goes out (or aside) before the extra bytes move to the front.
      const SecBuffer* extra = nullptr;
      for (const SecBuffer& b : buffers) {
        if (b.BufferType == SECBUFFER_DATA && b.cbBuffer > 0) {
          const char* bytes = static_cast<const char*>(b.pvBuffer);
          plaintext_.insert(plaintext_.end(), bytes, bytes + b.cbBuffer);
        } else if (b.BufferType == SECBUFFER_EXTRA) {
          extra = &b;
        }
      }
      KeepExtra(extra != nullptr ? *extra : SecBuffer{0, SECBUFFER_EMPTY, nullptr});
      total += TakePlaintext(buffer.subspan(total));
      if (result == SEC_I_CONTEXT_EXPIRED) closed_ = true;
      if (result == SEC_I_RENEGOTIATE) {
        // The server sent handshake messages after the handshake (e.g. new
        // session tickets): they go through the handshake once more.
        established_ = false;
        const TlsStatus again = Handshake();
        if (again != TlsStatus::kOk && again != TlsStatus::kWantInput) {
          if (total == 0) status = again;
          return total;
        }
        if (again == TlsStatus::kWantInput) break;
      }
    }
    if (total == 0) status = closed_ ? TlsStatus::kClosed : TlsStatus::kWantInput;
    return total;
  }

 private:
  // Drops the input that a call consumed: all of it, but for the `extra`
  // bytes at its end.
  void KeepExtra(const SecBuffer& extra) {
    const std::size_t keep =
        extra.BufferType == SECBUFFER_EXTRA ? std::min<std::size_t>(extra.cbBuffer, inputEnd_) : 0;
    std::memmove(input_.data(), input_.data() + inputEnd_ - keep, keep);
    inputEnd_ = keep;
  }

  std::size_t TakePlaintext(std::span<char> buffer) {
    const std::size_t count = std::min(buffer.size(), plaintext_.size() - plaintextBegin_);
    std::memcpy(buffer.data(), plaintext_.data() + plaintextBegin_, count);
    plaintextBegin_ += count;
    if (plaintextBegin_ == plaintext_.size()) {
      plaintext_.clear();
      plaintextBegin_ = 0;
    }
    return count;
  }

  TlsStatus Established() {
    // Nothing older than TLS 1.2, whatever the credentials asked for: wine's
    // Schannel, given SCH_CREDENTIALS, ignores the protocols it disables.
    constexpr DWORD kOldProtocols = SP_PROT_SSL2 | SP_PROT_SSL3 | SP_PROT_TLS1_0 | SP_PROT_TLS1_1;
    SecPkgContext_ConnectionInfo connection{};
    if (QueryContextAttributesA(&context_, SECPKG_ATTR_STREAM_SIZES, &sizes_) != SEC_E_OK ||
        QueryContextAttributesA(&context_, SECPKG_ATTR_CONNECTION_INFO, &connection) != SEC_E_OK ||
        (connection.dwProtocol & kOldProtocols) != 0) {
      failed_ = true;
      return TlsStatus::kFailed;
    }
    if (!ServerVerified()) {
      failed_ = true;
      return TlsStatus::kUntrusted;
    }
    established_ = true;
    return TlsStatus::kOk;
  }

  // The server's chain, built with the certificates it sent: without CA
  // certificates of the caller's it must hold by the system's store; with
  // them it must end in one of them, with no fault but that root's being
  // unknown to the system. Either way it must pass the SSL policy for the
  // host name.
  bool ServerVerified() {
    PCCERT_CONTEXT server = nullptr;
    if (QueryContextAttributesA(&context_, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &server) != SEC_E_OK ||
        server == nullptr) {
      return false;
    }
    CertStore extra(CertOpenStore(CERT_STORE_PROV_COLLECTION, 0, 0, 0, nullptr));
    bool trusted = false;
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    CERT_CHAIN_PARA para{};
    para.cbSize = sizeof para;
    const bool pinned = caStore_.get() != nullptr;
    if (extra.get() != nullptr &&
        (!pinned || CertAddStoreToCollection(extra.get(), caStore_.get(), 0, 0)) &&
        (server->hCertStore == nullptr ||
         CertAddStoreToCollection(extra.get(), server->hCertStore, 0, 0)) &&
        CertGetCertificateChain(nullptr, server, nullptr, extra.get(), &para, 0, nullptr, &chain) &&
        chain->cChain > 0) {
      const CERT_SIMPLE_CHAIN* simple = chain->rgpChain[0];
      const PCCERT_CONTEXT root = simple->rgpElement[simple->cElement - 1]->pCertContext;
      const PCCERT_CONTEXT own =
          pinned ? CertFindCertificateInStore(caStore_.get(), X509_ASN_ENCODING, 0,
                                              CERT_FIND_EXISTING, root, nullptr)
                 : nullptr;
      const DWORD faults = chain->TrustStatus.dwErrorStatus &
                           ~(pinned ? DWORD{CERT_TRUST_IS_UNTRUSTED_ROOT} : DWORD{0});
      if (own != nullptr) CertFreeCertificateContext(own);
      if (!pinned || own != nullptr) {
        std::wstring name = win32::Widen(hostName_);
        SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
        ssl.cbSize = sizeof ssl;
        ssl.dwAuthType = AUTHTYPE_SERVER;
        ssl.pwszServerName = name.data();
        CERT_CHAIN_POLICY_PARA policy{};
        policy.cbSize = sizeof policy;
        policy.dwFlags = pinned ? CERT_CHAIN_POLICY_ALLOW_UNKNOWN_CA_FLAG : 0;
        policy.pvExtraPolicyPara = &ssl;
        CERT_CHAIN_POLICY_STATUS verdict{};
        verdict.cbSize = sizeof verdict;
        trusted =
            faults == 0 &&
            CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &verdict) &&
            verdict.dwError == 0;
      }
    }
    if (chain != nullptr) CertFreeCertificateChain(chain);
    CertFreeCertificateContext(server);
    return trusted;
  }

  std::string hostName_;
  CertStore caStore_;
  CredHandle credentials_{};
  CtxtHandle context_{};
  bool haveCredentials_ = false;
  bool haveContext_ = false;
  bool established_ = false;
  bool failed_ = false;
  bool closed_ = false;
  SecPkgContext_StreamSizes sizes_{};
  std::vector<char> plaintext_;
  std::size_t plaintextBegin_ = 0;
};

}  // namespace

std::unique_ptr<TlsSession> CreateTlsSession(const std::string& hostName, const TlsTrust& trust) {
  auto session = std::make_unique<SchannelSession>();
  if (!session->Start(hostName, trust)) return nullptr;
  return session;
}

}  // namespace platform
