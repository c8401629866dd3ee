// The current user's Internet settings as the system's settings page writes
// them on Windows: the ProxyEnable, ProxyServer, ProxyOverride and
// AutoConfigURL values, which WinINet reads, and the
// Connections\DefaultConnectionSettings record, which WinHTTP reads. They are
// removed again when the object goes: the tests' wine prefix has none of its
// own. Other systems have no such settings.
#pragma once

#include <string>

namespace testsupport {

class InternetSettings {
 public:
  // `flags` as DefaultConnectionSettings holds them: 1 direct, 2 the proxy
  // list `proxy` with its `bypass` list, 4 the configuration script at `script`.
  InternetSettings(unsigned flags, const std::string& proxy, const std::string& bypass,
                   const std::string& script);
  ~InternetSettings();
  InternetSettings(const InternetSettings&) = delete;
  InternetSettings& operator=(const InternetSettings&) = delete;

  // Whether this system has such settings, and whether they are in place.
  static bool Supported();
  bool written() const { return written_; }

 private:
  bool written_ = false;
};

}  // namespace testsupport
