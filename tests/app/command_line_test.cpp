#include "app/command_line.h"

#include <gtest/gtest.h>

#include "app/vendor_config.h"
#include "platform/path.h"

namespace {

using app::RunKind;

constexpr char kSelf[] = "/opt/korvanta/updater";

std::string Quoted() { return std::string("\"") + kSelf + "\" "; }

TEST(PlanRun, DecidesWhatTheRunDoes) {
  const std::string domain = app::kVendorDomain;
  const std::string vendorUrl = "http://dl." + domain + "/update.zip";
  struct Case {
    std::string line;
    RunKind kind;
    std::string argument;
    const char* what;
  };
  const Case cases[] = {
      {std::string("\"") + kSelf + "\"", RunKind::kNoArgument, "", "quoted path alone"},
      {Quoted(), RunKind::kNoArgument, "", "quoted path and one blank"},
      {Quoted() + vendorUrl, RunKind::kDownload, vendorUrl, "vendor address"},
      {Quoted() + "/silent " + vendorUrl, RunKind::kDownload, vendorUrl, "text before http"},
      {Quoted() + vendorUrl + " --lang zh", RunKind::kDownload, vendorUrl + " --lang zh",
       "text after the address stays"},
      {Quoted() + "HTTP://DL.KORVANTA.TEST/U.ZIP", RunKind::kLocalArchive,
       "HTTP://DL.KORVANTA.TEST/U.ZIP", "capitals are neither http nor the domain"},
      {Quoted() + "HTTP://dl." + domain + "/u.zip", RunKind::kDownload,
       "HTTP://dl." + domain + "/u.zip", "the domain test comes before the http test"},
      {Quoted() + "http://mirror.example.test/u.zip?from=" + domain, RunKind::kDownload,
       "http://mirror.example.test/u.zip?from=" + domain, "domain only in the query"},
      {Quoted() + "http://other.example.test/u.zip", RunKind::kIdle,
       "http://other.example.test/u.zip", "another domain"},
      {Quoted() + "/tmp/update.zip", RunKind::kLocalArchive, "/tmp/update.zip", "local path"},
      {std::string(kSelf) + " /tmp/u.zip", RunKind::kLocalArchive,
       std::string(kSelf) + " /tmp/u.zip", "unquoted path: nothing removed"},
      {kSelf, RunKind::kNoArgument, "", "unquoted path alone is shorter"},
      {Quoted() + Quoted(), RunKind::kIdle, "", "nothing left after the path is removed"},
      {Quoted() + "a" + Quoted() + "b", RunKind::kLocalArchive, "ab", "every occurrence removed"},
  };
  for (const auto& c : cases) {
    const app::RunPlan plan = app::PlanRun(c.line, kSelf, domain);
    EXPECT_EQ(plan.kind, c.kind) << c.what;
    EXPECT_EQ(plan.argument, c.argument) << c.what;
  }
}

TEST(DirectoryOf, KeepsOneSeparatorAtTheEnd) {
  // The separator put at the end is the system's own.
  const std::string separator(1, platform::PathSeparator());
  EXPECT_EQ(app::DirectoryOf("/opt/korvanta/updater"), "/opt/korvanta" + separator);
  EXPECT_EQ(app::DirectoryOf("/updater"), separator);
}

}  // namespace
