// The run's pure decisions and texts: what the command line asks for, the
// program directory, the relaunch verb, the status line and the messages.
#include "app/command_line.h"

#include <gtest/gtest.h>

#include "app/messages.h"
#include "app/progress_display.h"
#include "app/vendor_config.h"
#include "platform/path.h"

namespace {

using app::RunKind;

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
  };
  for (const auto& c : cases) {
    const app::RunPlan plan = app::PlanRun(c.line, kSelf, domain);
    EXPECT_EQ(plan.kind, c.kind) << c.line;
    EXPECT_EQ(plan.argument, c.argument) << c.line;
  }
  const std::string separator(1, platform::PathSeparator());
  EXPECT_EQ(app::DirectoryOf(kSelf), "/opt/korvanta" + separator);
  EXPECT_EQ(app::DirectoryOf("/updater"), separator);
}

TEST(RelaunchVerb, AsksForElevationFromVersionSixOn) {
  for (unsigned version : {0u, 4u, 5u}) EXPECT_EQ(app::RelaunchVerb(version), nullptr) << version;
  for (unsigned version : {6u, 7u, 10u, 255u}) {
    ASSERT_NE(app::RelaunchVerb(version), nullptr) << version;
    EXPECT_STREQ(app::RelaunchVerb(version), "runas") << version;
  }
}

TEST(DescribeProgress, StatusTextAndTruePercentage) {
  struct Case {
    std::uint32_t done, total;
    const char* text;
    unsigned position;
  };
  const Case cases[] = {
      {0, 1000, "已经下载0字节/共1000字节", 0},
      {999, 1000, "已经下载999字节/共1000字节", 99},  // truncates
      {1000, 1000, "已经下载1000字节/共1000字节", 100},
      // Above 42,949,672 bytes done * 100 no longer fits in 32 bits.
      {50000000, 100000000, "已经下载50000000字节/共100000000字节", 50},
      {2000000000, 2000000001, "已经下载2000000000字节/共2000000001字节", 99},
      {862828251, 2013265920, "已经下载862828251字节/共2013265920字节", 42},
      {0, 0, "已经下载0字节/共0字节", 0},                // no division by zero
      {3000, 1000, "已经下载3000字节/共1000字节", 100},  // never past 100
  };
  for (const auto& c : cases) {
    const app::ProgressDisplay d = app::DescribeProgress(c.done, c.total);
    EXPECT_EQ(d.statusText, c.text);
    EXPECT_EQ(d.position, c.position) << c.done << "/" << c.total;
  }
}

TEST(Messages, AreTheFourParagraphsAndThePage) {
  const char* const tail =
      "\n\n或去Orinta网站上下载新版本。\n\n按\"确认\"去官网下载，按\"取消\"退出本次升级。";
  EXPECT_EQ(app::MessageText(app::FailureMessage::kNoArgument),
            std::string("非常抱歉，本程序不能单独运行。\n\n"
                        "您可点击\"Velmora\"工具栏的\"在线升级\"按钮尝试升级。") +
                tail);
  EXPECT_EQ(app::MessageText(app::FailureMessage::kDownloadFailed),
            std::string("非常抱歉，可能因为网络原因，本次升级失败。\n\n"
                        "您可点击\"Velmora\"工具栏的\"在线升级\"按钮再次尝试升级。") +
                tail);
  EXPECT_STREQ(app::kMessageCaption, "提示");
  EXPECT_EQ(app::DownloadPageUrl(),
            std::string("http://") + app::kPageHost + "/update/download.php");
}

}  // namespace
