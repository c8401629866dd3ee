// The run's pure decisions and texts: what the command line asks for, the
// program directory, the relaunch verb and the status line. The messages are
// pinned byte for byte by the end-to-end runs (tests/support/updater_run.py).
#include "app/command_line.h"

#include <gtest/gtest.h>

#include "app/progress_display.h"
#include "app/vendor_config.h"
#include "platform/path.h"

namespace {

using app::RunKind;
using app::RunMode;

constexpr char kSelf[] = "/opt/korvanta/updater";

TEST(PlanRun, DecidesWhatTheRunDoes) {
  const std::string domain = app::kVendorDomain;
  const std::string q = std::string("\"") + kSelf + "\" ";
  const std::string vendorUrl = "http://dl." + domain + "/update.zip";
  const std::string query = "http://mirror.example.test/u.zip?from=" + domain;
  struct Case {
    std::string line;
    RunKind kind;
    std::string argument;
    RunMode mode = RunMode::kDialog;
  };
  const Case cases[] = {
      {std::string("\"") + kSelf + "\"", RunKind::kNoArgument, ""},
      {q, RunKind::kNoArgument, ""},
      {q + vendorUrl, RunKind::kDownload, vendorUrl},
      {q + "/silent " + vendorUrl, RunKind::kDownload, vendorUrl},  // text before http dropped
      {q + vendorUrl + " --lang zh", RunKind::kDownload, vendorUrl + " --lang zh"},
      {q + "HTTP://DL.KORVANTA.TEST/U.ZIP", RunKind::kLocalArchive,
       "HTTP://DL.KORVANTA.TEST/U.ZIP"},
      {q + "HTTP://dl." + domain + "/u.zip", RunKind::kDownload, "HTTP://dl." + domain + "/u.zip"},
      {q + query, RunKind::kDownload, query},  // the domain only in the query
      {q + "http://other.example.test/u.zip", RunKind::kIdle, "http://other.example.test/u.zip"},
      {q + "/tmp/update.zip", RunKind::kLocalArchive, "/tmp/update.zip"},
      {std::string(kSelf) + " /tmp/u.zip", RunKind::kLocalArchive,
       std::string(kSelf) + " /tmp/u.zip"},
      {kSelf, RunKind::kNoArgument, ""},  // unquoted and shorter than the quoted path
      {q + q, RunKind::kIdle, ""},
      {q + "a" + q + "b", RunKind::kLocalArchive, "ab"},  // every occurrence removed
      // A switch counts only as the first argument, and is no part of the rest.
      {q + "--silent  " + vendorUrl, RunKind::kDownload, vendorUrl, RunMode::kSilent},
      {q + "--silent /tmp/u.zip", RunKind::kLocalArchive, "/tmp/u.zip", RunMode::kSilent},
      {q + "--silent", RunKind::kNoArgument, "", RunMode::kSilent},
      {std::string(kSelf) + " --silent /tmp/u.zip", RunKind::kLocalArchive,
       std::string(kSelf) + " /tmp/u.zip", RunMode::kSilent},
      {q + "--recover", RunKind::kNoArgument, "", RunMode::kRecover},
      {q + "--silently /tmp/u.zip", RunKind::kLocalArchive, "--silently /tmp/u.zip"},
      {q + "/tmp/u.zip --silent", RunKind::kLocalArchive, "/tmp/u.zip --silent"},
  };
  for (const auto& c : cases) {
    const app::RunRequest request = app::TakeRunSwitch(c.line);
    const app::RunPlan plan = app::PlanRun(request.commandLine, kSelf, domain);
    EXPECT_EQ(request.mode, c.mode) << c.line;
    EXPECT_EQ(plan.kind, c.kind) << c.line;
    EXPECT_EQ(plan.argument, c.argument) << c.line;
  }
  const std::string separator(1, platform::PathSeparator());
  EXPECT_EQ(app::DirectoryOf(kSelf), "/opt/korvanta" + separator);
  EXPECT_EQ(app::DirectoryOf("/updater"), separator);
}

TEST(RelaunchVerb, AsksForElevationFromVersionSixOn) {
  for (unsigned version : {0u, 4u, 5u, 6u, 7u, 10u, 255u}) {
    const char* verb = app::RelaunchVerb(version);
    EXPECT_EQ(verb != nullptr ? std::string(verb) : "none", version >= 6 ? "runas" : "none")
        << version;
  }
}

TEST(DescribeProgress, StatusTextAndTruePercentage) {
  struct Case {
    std::uint32_t done, total;
    const char* text;
    unsigned position;
  };
  const Case cases[] = {
      {1000, 1000, "已经下载1000字节/共1000字节", 100},
      // Above 42,949,672 bytes done * 100 no longer fits in 32 bits.
      {50000000, 100000000, "已经下载50000000字节/共100000000字节", 50},
      {2000000000, 2000000001, "已经下载2000000000字节/共2000000001字节", 99},
      {0, 0, "已经下载0字节/共0字节", 0},                // no division by zero
      {3000, 1000, "已经下载3000字节/共1000字节", 100},  // never past 100
  };
  for (const auto& c : cases) {
    const app::ProgressDisplay d = app::DescribeProgress(c.done, c.total);
    EXPECT_EQ(d.statusText, c.text);
    EXPECT_EQ(d.position, c.position) << c.done << "/" << c.total;
  }
}

}  // namespace
