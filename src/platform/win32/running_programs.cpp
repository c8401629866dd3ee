// Windows: a snapshot of the processes, each one's image path asked for by
// QueryFullProcessImageNameW (Vista and later) or, before Vista, read from
// its first module.
#include "platform/running_programs.h"

#include "platform/win32/unique_handle.h"
#include "platform/win32/wide_text.h"
#include "platform/win32/windows_api.h"
// clang-format off
#include <tlhelp32.h>
// clang-format on

namespace platform {
namespace {

using QueryImageNameFunction = BOOL(WINAPI*)(HANDLE, DWORD, LPWSTR, PDWORD);

// Paths compare without regard to letter case, and either separator counts.
std::wstring Folded(std::wstring path) {
  if (!path.empty()) CharUpperBuffW(path.data(), static_cast<DWORD>(path.size()));
  for (wchar_t& c : path) {
    if (c == L'/') c = L'\\';
  }
  return path;
}

std::wstring ImagePath(DWORD pid, QueryImageNameFunction queryImageName) {
  if (queryImageName != nullptr) {
    const win32::UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    std::wstring buffer(32768, L'\0');  // the longest path the system has
    DWORD size = static_cast<DWORD>(buffer.size());
    if (!process || !queryImageName(process.get(), 0, buffer.data(), &size)) return {};
    buffer.resize(size);
    return buffer;
  }
  const win32::UniqueHandle modules(CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, pid));
  MODULEENTRY32W module;
  module.dwSize = sizeof module;
  if (modules && Module32FirstW(modules.get(), &module)) return module.szExePath;
  return {};
}

}  // namespace

std::vector<std::uint32_t> ProgramsRunningIn(const std::string& directory) {
  std::vector<std::uint32_t> found;
  const auto queryImageName = reinterpret_cast<QueryImageNameFunction>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA("kernel32.dll"), "QueryFullProcessImageNameW")));
  const std::wstring folder = Folded(win32::Widen(directory));
  const win32::UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot || folder.empty()) return found;
  PROCESSENTRY32W entry;
  entry.dwSize = sizeof entry;
  const DWORD self = GetCurrentProcessId();
  for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
       more = Process32NextW(snapshot.get(), &entry)) {
    if (entry.th32ProcessID == self || entry.th32ProcessID == 0) continue;
    // A process that cannot be opened (another user's, a protected one) is
    // left out.
    const std::wstring image = Folded(ImagePath(entry.th32ProcessID, queryImageName));
    if (image.size() > folder.size() && image.compare(0, folder.size(), folder) == 0) {
      found.push_back(entry.th32ProcessID);
    }
  }
  return found;
}

}  // namespace platform
