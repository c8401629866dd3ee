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

// How the run is shown, from a switch as the first argument.
enum class RunMode {
  kDialog,   // no switch: the update dialog
  kSilent,   // "--silent": the same run without any window, box, output or page
  kRecover,  // "--recover": only finish or undo an interrupted install
};

struct RunRequest {
  RunMode mode = RunMode::kDialog;
  std::string commandLine;  // without the switch
};

// The switch, when the first argument is one, and the command line without
// it (the program's own part and the arguments after the switch, one blank
// between them), for PlanRun. The program's own part is the quoted text when
// the line begins with a double quote, else the text up to the first blank.
RunRequest TakeRunSwitch(std::string_view commandLine);

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
