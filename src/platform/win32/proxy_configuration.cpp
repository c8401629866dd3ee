#include "platform/proxy_configuration.h"

#include <cwchar>

#include "platform/win32/wide_text.h"
#include "platform/win32/windows_api.h"

// clang-format off
#include <winhttp.h>
// clang-format on

namespace platform {
namespace {

// A text that WinHTTP allocated for the caller, freed here.
std::string TakeText(LPWSTR text) {
  if (text == nullptr) return {};
  std::string narrow = win32::Narrow(text).value_or(std::string());
  GlobalFree(text);
  return narrow;
}

class WinHttpProxyScript final : public ProxyScript {
 public:
  WinHttpProxyScript(HINTERNET session, bool autoDetect, std::wstring scriptUrl)
      : session_(session), autoDetect_(autoDetect), scriptUrl_(std::move(scriptUrl)) {}
  ~WinHttpProxyScript() override { WinHttpCloseHandle(session_); }
  WinHttpProxyScript(const WinHttpProxyScript&) = delete;
  WinHttpProxyScript& operator=(const WinHttpProxyScript&) = delete;

  // Auto-detection first, as the system's own settings page orders them,
  // then the script's address. A network without a detectable script says
  // so only after its look-ups time out, so a failed detection is not asked
  // again in this run.
  std::optional<std::string> ProxiesFor(const std::string& url) override {
    const std::wstring wideUrl = win32::Widen(url);
    if (autoDetect_) {
      WINHTTP_AUTOPROXY_OPTIONS options{};
      options.dwFlags = WINHTTP_AUTOPROXY_AUTO_DETECT;
      options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
      if (std::optional<std::string> found = Ask(wideUrl, options)) return found;
      if (GetLastError() == ERROR_WINHTTP_AUTODETECTION_FAILED) autoDetect_ = false;
    }
    if (scriptUrl_.empty()) return std::nullopt;
    WINHTTP_AUTOPROXY_OPTIONS options{};
    options.dwFlags = WINHTTP_AUTOPROXY_CONFIG_URL;
    options.lpszAutoConfigUrl = scriptUrl_.c_str();
    return Ask(wideUrl, options);
  }

 private:
  std::optional<std::string> Ask(const std::wstring& url, WINHTTP_AUTOPROXY_OPTIONS& options) {
    // A script server that asks who is there gets the logged-on user.
    options.fAutoLogonIfChallenged = TRUE;
    WINHTTP_PROXY_INFO info{};
    if (!WinHttpGetProxyForUrl(session_, url.c_str(), &options, &info)) return std::nullopt;
    std::string proxies = TakeText(info.lpszProxy);
    TakeText(info.lpszProxyBypass);
    if (info.dwAccessType != WINHTTP_ACCESS_TYPE_NAMED_PROXY || proxies.empty()) return "DIRECT";
    return proxies;
  }

  HINTERNET session_;
  bool autoDetect_;
  std::wstring scriptUrl_;
};

}  // namespace

std::optional<std::string> ExactEnvironmentVariable(const char* name) {
  const std::wstring wanted = win32::Widen(name) + L"=";
  LPWCH block = GetEnvironmentStringsW();
  if (block == nullptr) return std::nullopt;
  std::optional<std::string> value;
  for (const wchar_t* entry = block; *entry != L'\0'; entry += std::wcslen(entry) + 1) {
    if (std::wcsncmp(entry, wanted.c_str(), wanted.size()) == 0) {
      value = win32::Narrow(entry + wanted.size()).value_or(std::string());
      break;
    }
  }
  FreeEnvironmentStringsW(block);
  return value;
}

void ReadUserProxySettings(ProxyConfiguration& configuration) {
  WINHTTP_CURRENT_USER_IE_PROXY_CONFIG settings{};
  if (!WinHttpGetIEProxyConfigForCurrentUser(&settings)) return;
  configuration.autoDetect = settings.fAutoDetect != FALSE;
  configuration.autoConfigUrl = TakeText(settings.lpszAutoConfigUrl);
  configuration.manualProxy = TakeText(settings.lpszProxy);
  configuration.bypassList = TakeText(settings.lpszProxyBypass);
}

std::unique_ptr<ProxyScript> OpenProxyScript(const ProxyConfiguration& configuration) {
  if (!configuration.autoDetect && configuration.autoConfigUrl.empty()) return nullptr;
  const HINTERNET session = WinHttpOpen(L"HttpDownload/2.0", WINHTTP_ACCESS_TYPE_NO_PROXY,
                                        WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
  if (session == nullptr) return nullptr;
  return std::make_unique<WinHttpProxyScript>(session, configuration.autoDetect,
                                              win32::Widen(configuration.autoConfigUrl));
}

}  // namespace platform
