#include "support/internet_settings.h"

#include <cstdint>

#include "platform/win32/windows_api.h"

namespace testsupport {
namespace {

constexpr char kSettings[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
constexpr char kConnections[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections";
constexpr const char* kValues[][2] = {{kConnections, "DefaultConnectionSettings"},
                                      {kSettings, "ProxyEnable"},
                                      {kSettings, "ProxyServer"},
                                      {kSettings, "ProxyOverride"},
                                      {kSettings, "AutoConfigURL"}};

bool Write(int value, DWORD type, const std::string& data) {
  return RegSetKeyValueA(HKEY_CURRENT_USER, kValues[value][0], kValues[value][1], type, data.data(),
                         static_cast<DWORD>(data.size())) == ERROR_SUCCESS;
}

}  // namespace

InternetSettings::InternetSettings(unsigned flags, const std::string& proxy,
                                   const std::string& bypass, const std::string& script) {
  // Version, a change counter, the flags, then each text after its length.
  std::string record;
  const auto add = [&record](std::uint32_t n) { record.append(reinterpret_cast<char*>(&n), 4); };
  add(0x46);
  add(1);
  add(flags);
  for (const std::string* text : {&proxy, &bypass, &script}) {
    add(static_cast<std::uint32_t>(text->size()));
    record += *text;
  }
  record.append(32, '\0');
  const std::uint32_t enabled = (flags & 2) != 0 ? 1 : 0;
  written_ = Write(0, REG_BINARY, record) &&
             Write(1, REG_DWORD, std::string(reinterpret_cast<const char*>(&enabled), 4)) &&
             Write(2, REG_SZ, proxy + '\0') && Write(3, REG_SZ, bypass + '\0') &&
             Write(4, REG_SZ, script + '\0');
}

bool InternetSettings::Supported() { return true; }

InternetSettings::~InternetSettings() {
  for (const auto& value : kValues) RegDeleteKeyValueA(HKEY_CURRENT_USER, value[0], value[1]);
}

}  // namespace testsupport
