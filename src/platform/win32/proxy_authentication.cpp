// NTLM and Negotiate through SSPI: credentials of the logged-on user (no
// identity given to AcquireCredentialsHandle) or of the name and password
// that the proxy setting carries, and one security context per exchange.
#include "platform/proxy_authentication.h"

#include <vector>

#include "platform/win32/windows_api.h"

// clang-format off
#define SECURITY_WIN32
#include <security.h>
#include <wincrypt.h>
// clang-format on

namespace platform {
namespace {

constexpr DWORD kBase64 = CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF;

bool DecodeBase64(const std::string& text, std::vector<unsigned char>& bytes) {
  DWORD size = 0;
  const DWORD length = static_cast<DWORD>(text.size());
  if (!CryptStringToBinaryA(text.c_str(), length, CRYPT_STRING_BASE64, nullptr, &size, nullptr,
                            nullptr)) {
    return false;
  }
  bytes.resize(size);
  return CryptStringToBinaryA(text.c_str(), length, CRYPT_STRING_BASE64, bytes.data(), &size,
                              nullptr, nullptr) != FALSE;
}

bool EncodeBase64(const void* data, unsigned long size, std::string& text) {
  const auto* bytes = static_cast<const BYTE*>(data);
  DWORD length = 0;
  if (!CryptBinaryToStringA(bytes, size, kBase64, nullptr, &length)) return false;
  text.assign(length, '\0');
  if (!CryptBinaryToStringA(bytes, size, kBase64, text.data(), &length)) return false;
  text.resize(length);
  return true;
}

class SspiExchange final : public AuthExchange {
 public:
  ~SspiExchange() override {
    if (haveContext_) DeleteSecurityContext(&context_);
    if (haveCredentials_) FreeCredentialsHandle(&credentials_);
  }

  bool Start(const std::string& scheme, const std::string& server, const std::string& user,
             const std::string& password) {
    target_ = "HTTP/" + server;
    std::string domain;
    std::string name = user;
    if (const std::size_t slash = user.find('\\'); slash != std::string::npos) {
      domain = user.substr(0, slash);
      name = user.substr(slash + 1);
    }
    SEC_WINNT_AUTH_IDENTITY_A identity{};
    identity.User = reinterpret_cast<unsigned char*>(name.data());
    identity.UserLength = static_cast<unsigned long>(name.size());
    identity.Domain = reinterpret_cast<unsigned char*>(domain.data());
    identity.DomainLength = static_cast<unsigned long>(domain.size());
    std::string secret = password;
    identity.Password = reinterpret_cast<unsigned char*>(secret.data());
    identity.PasswordLength = static_cast<unsigned long>(secret.size());
    identity.Flags = SEC_WINNT_AUTH_IDENTITY_ANSI;
    std::string package = scheme;
    TimeStamp expiry{};
    haveCredentials_ =
        AcquireCredentialsHandleA(nullptr, package.data(), SECPKG_CRED_OUTBOUND, nullptr,
                                  user.empty() ? nullptr : &identity, nullptr, nullptr,
                                  &credentials_, &expiry) == SEC_E_OK;
    SecureZeroMemory(secret.data(), secret.size());
    return haveCredentials_;
  }

  AuthStep Next(const std::string& challenge, std::string& token) override {
    token.clear();
    std::vector<unsigned char> input;
    if (haveContext_ == challenge.empty()) return AuthStep::kFailed;
    if (haveContext_ && (!DecodeBase64(challenge, input) || input.empty())) {
      return AuthStep::kFailed;
    }
    SecBuffer in{static_cast<unsigned long>(input.size()), SECBUFFER_TOKEN, input.data()};
    SecBufferDesc inDesc{SECBUFFER_VERSION, 1, &in};
    SecBuffer out{0, SECBUFFER_TOKEN, nullptr};
    SecBufferDesc outDesc{SECBUFFER_VERSION, 1, &out};
    unsigned long attributes = 0;
    TimeStamp expiry{};
    SECURITY_STATUS status = InitializeSecurityContextA(
        &credentials_, haveContext_ ? &context_ : nullptr, target_.data(),
        ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_CONNECTION, 0, SECURITY_NATIVE_DREP,
        haveContext_ ? &inDesc : nullptr, 0, &context_, &outDesc, &attributes, &expiry);
    if (!haveContext_ && status >= 0) haveContext_ = true;
    if (status == SEC_I_COMPLETE_NEEDED || status == SEC_I_COMPLETE_AND_CONTINUE) {
      const SECURITY_STATUS completed = CompleteAuthToken(&context_, &outDesc);
      if (completed < 0) status = completed;
    }
    const bool encoded = out.pvBuffer != nullptr && out.cbBuffer > 0 &&
                         EncodeBase64(out.pvBuffer, out.cbBuffer, token);
    if (out.pvBuffer != nullptr) FreeContextBuffer(out.pvBuffer);
    if (status < 0 || !encoded) return AuthStep::kFailed;
    return status == SEC_I_CONTINUE_NEEDED || status == SEC_I_COMPLETE_AND_CONTINUE
               ? AuthStep::kContinue
               : AuthStep::kDone;
  }

 private:
  std::string target_;
  CredHandle credentials_{};
  CtxtHandle context_{};
  bool haveCredentials_ = false;
  bool haveContext_ = false;
};

}  // namespace

std::unique_ptr<AuthExchange> StartAuthExchange(const std::string& scheme,
                                                const std::string& server, const std::string& user,
                                                const std::string& password) {
  auto exchange = std::make_unique<SspiExchange>();
  if (!exchange->Start(scheme, server, user, password)) return nullptr;
  return exchange;
}

}  // namespace platform
