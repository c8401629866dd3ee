// What a run does, decided from the command line the updater was started with.
#pragma once

#include <string>
#include <string_view>

namespace app {

enum class RunKind {
  kNoArgument,    // started alone: explain, offer the download page, close
  kDownload,      // the argument names the vendor's domain: download and install
  kLocalArchive,  // neither "http" nor the domain: install that archive from disk
  kIdle,          // an "http" address of another domain, or nothing left: wait
};

struct RunPlan {
  RunKind kind = RunKind::kNoArgument;
  std::string argument;  // the address or the archive path
};

// `commandLine` is the whole command line, `modulePath` the updater's own path.
// The searches are case-sensitive and step over whole characters of the
// active code page. Text before the first "http" is dropped, text after the
// address stays; without "http" the quoted module path and its blank are
// removed wherever they stand.
RunPlan PlanRun(std::string_view commandLine, std::string_view modulePath,
                std::string_view vendorDomain);

// The directory of `modulePath` with one separator at its end.
std::string DirectoryOf(std::string_view modulePath);

// The verb the main application is started with: "runas" (elevation) from
// major system version 6 on, none below.
const char* RelaunchVerb(unsigned osMajorVersion);

}  // namespace app
