// The dialog's run flow through the real window runtime, with the shell
// replaced so that no box waits for a person and nothing is started.
#include "app/update_dialog.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "app/messages.h"
#include "app/vendor_config.h"
#include "platform/files.h"
#include "platform/path.h"
#include "platform/process.h"
#include "platform/shell.h"
#include "support/environment.h"
#include "support/scratch_dir.h"
#include "support/scripted_server.h"

namespace {

using Clock = std::chrono::steady_clock;

// Records what the run asks of the shell; message boxes get `answer`.
struct ShellRecorder {
  ShellRecorder() {
    platform::ShellOverrides o;
    o.messageBox = [this](platform::WindowHandle, const std::string& text,
                          const std::string& caption, unsigned) {
      std::lock_guard<std::mutex> lock(mutex);
      boxes.push_back(caption + "|" + text);
      return answer;
    };
    o.openInBrowser = [this](const std::string& url) {
      std::lock_guard<std::mutex> lock(mutex);
      pages.push_back(url);
    };
    o.startProgram = [this](const std::string& path, const char* verb) {
      std::lock_guard<std::mutex> lock(mutex);
      started.emplace_back(path, verb != nullptr ? verb : "");
      return true;
    };
    platform::SetShellOverrides(o);
  }
  ~ShellRecorder() { platform::SetShellOverrides({}); }

  std::mutex mutex;
  std::vector<std::string> boxes;
  std::vector<std::string> pages;
  std::vector<std::pair<std::string, std::string>> started;  // path, verb
  int answer = platform::kIdCancel;
};

// Tells the test thread the dialog's window once it exists.
class ObservedDialog : public app::UpdateDialog {
 public:
  using app::UpdateDialog::UpdateDialog;
  bool OnInitDialog(platform::WindowHandle dialog) override {
    initialisedAt = Clock::now();
    const bool result = app::UpdateDialog::OnInitDialog(dialog);
    window.set_value(dialog);
    return result;
  }
  std::promise<platform::WindowHandle> window;
  Clock::time_point initialisedAt{};
};

class UpdateDialogFlow : public ::testing::Test {
 protected:
  // The POSIX window runtime shows no dialog of its own (Windows ignores it).
  void SetUp() override { testsupport::SetEnvVar("UPDATER_UI", "none"); }

  app::RunEnvironment Environment(const std::string& argument) const {
    const std::string self = scratch.Join("updater");
    return app::RunEnvironment{"\"" + self + "\" " + argument, self};
  }

  testsupport::ScratchDir scratch;
  ShellRecorder shell;
};

// The box shows message 1 (whole texts are pinned in command_line_test.cpp
// and the end-to-end suite) and OK opens the download page.
TEST_F(UpdateDialogFlow, AloneItShowsMessageOneAndOffersThePage) {
  for (int answer : {platform::kIdCancel, platform::kIdOk}) {
    shell.answer = answer;
    shell.boxes.clear();
    ObservedDialog dialog(Environment(""));
    dialog.DoModal();
    EXPECT_EQ(shell.boxes,
              std::vector<std::string>{std::string("提示|") +
                                       app::MessageText(app::FailureMessage::kNoArgument)});
    EXPECT_EQ(shell.pages.size(), answer == platform::kIdOk ? 1u : 0u);
    EXPECT_FALSE(dialog.workerStarted());
    EXPECT_TRUE(shell.started.empty());
  }
  EXPECT_EQ(shell.pages, std::vector<std::string>{std::string("http://") + app::kPageHost +
                                                  "/update/download.php"});
}

TEST_F(UpdateDialogFlow, AnotherDomainStaysIdleAndShowsProgressRecords) {
  ObservedDialog dialog(Environment("http://other.example.test/update.zip"));
  auto window = dialog.window.get_future();
  std::thread sender([&] {
    const platform::WindowHandle w = window.get();
    // Past the start delay nothing has happened: the initial text stands.
    std::this_thread::sleep_for(std::chrono::milliseconds(1300));
    EXPECT_EQ(platform::GetDlgItemText(w, app::IDC_STATUS_TEXT), "链接服务器，请等待...");
    EXPECT_EQ(platform::SendMessage(w, app::WM_UPDATE_PROGRESS, 2, 0), 1);  // null record
    EXPECT_EQ(platform::GetDlgItemText(w, app::IDC_STATUS_TEXT), "链接服务器，请等待...");
    http::DownloadProgress record;
    record.code = http::NOTIFY_PROGRESS;
    record.totalSize = 1000;
    record.receivedSize = 500;
    EXPECT_EQ(platform::SendMessage(w, app::WM_UPDATE_PROGRESS, 2,
                                    reinterpret_cast<platform::LParam>(&record)),
              0);
    EXPECT_EQ(platform::GetDlgItemText(w, app::IDC_STATUS_TEXT), "已经下载500字节/共1000字节");
    const platform::WindowHandle bar = platform::GetDlgItem(w, app::IDC_DOWNLOAD_PROGRESS);
    EXPECT_EQ(platform::SendMessage(bar, platform::kPbmGetPos, 0, 0), 50);
    platform::SendMessage(w, platform::kWmClose, 0, 0);
  });
  dialog.DoModal();
  sender.join();
  EXPECT_FALSE(dialog.workerStarted());
  EXPECT_TRUE(shell.boxes.empty());
}

TEST_F(UpdateDialogFlow, ALocalPathThatIsNoArchiveStillStartsTheMainApplication) {
  ObservedDialog dialog(Environment(scratch.Join("missing.zip")));
  const auto start = Clock::now();
  dialog.DoModal();
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(2950));
  ASSERT_EQ(shell.started.size(), 1u);
  EXPECT_EQ(shell.started[0].first, scratch.path() + platform::PathSeparator() + "Korvanta.exe");
  // Linux kernels and every Windows the updater meets today report 6 or more.
  EXPECT_EQ(shell.started[0].second, platform::OsMajorVersion() >= 6 ? "runas" : "")
      << platform::OsMajorVersion();
  EXPECT_FALSE(dialog.workerStarted());
  EXPECT_TRUE(shell.boxes.empty());
}

TEST_F(UpdateDialogFlow, ClosingDuringADownloadStopsTheWorkerAndKeepsThePartialFile) {
  constexpr std::size_t kSize = 100000;
  const std::string header = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(kSize) +
                             "\r\nLast-Modified: Sun, 06 Nov 2022 08:49:37 GMT\r\n\r\n";
  std::atomic<Clock::rep> firstRequest{0};  // ticks of the steady clock
  testsupport::ScriptedServer server([&](testsupport::ScriptedExchange& exchange) {
    Clock::rep none = 0;
    firstRequest.compare_exchange_strong(none, Clock::now().time_since_epoch().count());
    if (exchange.request().rfind("HEAD ", 0) == 0) {
      exchange.Send(header);
      return;
    }
    // The body arrives a few bytes at a time until the client goes away.
    exchange.Send(header);
    exchange.Drip(testsupport::PatternBytes(kSize), 16, 20);
  });
  ASSERT_TRUE(server.listening());
  ObservedDialog dialog(Environment(server.Url(std::string("/update.zip?") + app::kVendorDomain)));
  auto window = dialog.window.get_future();
  std::thread closer([&] {
    const platform::WindowHandle w = window.get();
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    // Until bytes have arrived: the first status shows 0 of the total.
    const auto receiving = [&] {
      const std::string status = platform::GetDlgItemText(w, app::IDC_STATUS_TEXT);
      return status.rfind("已经下载", 0) == 0 && status.rfind("已经下载0字节", 0) != 0;
    };
    while (!receiving() && Clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    platform::SendMessage(w, platform::kWmClose, 0, 0);
  });
  dialog.DoModal();
  closer.join();
  // The worker starts about a second after the dialog is initialised.
  EXPECT_GE(Clock::time_point(Clock::duration(firstRequest.load())) - dialog.initialisedAt,
            std::chrono::milliseconds(950));
  EXPECT_TRUE(shell.boxes.empty());
  EXPECT_TRUE(shell.started.empty());
  const std::string partial = testsupport::ReadFileBytes(scratch.Join("update.zip.down"));
  EXPECT_GT(partial.size(), 0u);
  EXPECT_LT(partial.size(), kSize);
  EXPECT_EQ(partial, testsupport::PatternBytes(kSize).substr(0, partial.size()));
  EXPECT_FALSE(platform::GetFileStatus(scratch.Join("update.zip")).has_value());
}

}  // namespace
