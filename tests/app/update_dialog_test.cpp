// The dialog's run flow through the real window runtime, with the shell
// replaced so that no box waits for a person and nothing is started.
#include "app/update_dialog.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <semaphore>
#include <thread>
#include <vector>

#include "app/messages.h"
#include "app/progress_display.h"
#include "app/run_shutdown.h"
#include "app/vendor_config.h"
#include "net/socket_library.h"
#include "platform/files.h"
#include "platform/install_files.h"
#include "platform/path.h"
#include "platform/process.h"
#include "platform/shell.h"
#include "support/environment.h"
#include "support/scratch_dir.h"
#include "support/scripted_server.h"
#include "support/table_names.h"

namespace {

using Clock = std::chrono::steady_clock;

// Records what the run asks of the shell; message boxes get `answer`.
struct ShellRecorder {
  ShellRecorder() {
    platform::ShellOverrides o;
    o.messageBox = [this](platform::WindowHandle, const std::string& text,
                          const std::string& caption, unsigned) {
      Record(boxes, caption + "|" + text);
      return answer;
    };
    o.openInBrowser = [this](const std::string& url) { Record(pages, url); };
    o.startProgram = [this](const std::string& path, const char* verb) {
      Record(started, path + "|" + (verb != nullptr ? verb : ""));
      return true;
    };
    o.canElevate = [this] { return canElevate; };
    o.startElevated = [this](const std::string& path, const std::string& parameters) {
      Record(elevated, path + "|" + parameters);
      return elevationGranted;
    };
    platform::SetShellOverrides(o);
  }
  ~ShellRecorder() { platform::SetShellOverrides({}); }
  void Record(std::vector<std::string>& list, const std::string& entry) {
    std::lock_guard<std::mutex> lock(mutex);
    list.push_back(entry);
  }

  std::mutex mutex;
  std::vector<std::string> boxes, pages, started, elevated;  // started: path|verb
  int answer = platform::kIdCancel;
  bool canElevate = false, elevationGranted = false;
};

// Tells the test thread the dialog's window once it exists.
class ObservedDialog : public app::UpdateDialog {
 public:
  using app::UpdateDialog::UpdateDialog;
  bool OnInitDialog(platform::WindowHandle dialog) override {
    const bool result = app::UpdateDialog::OnInitDialog(dialog);
    window.set_value(dialog);
    return result;
  }
  std::promise<platform::WindowHandle> window;
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

// The box shows message 1 (its whole text is pinned by the end-to-end suite)
// and OK opens the download page.
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
    EXPECT_EQ(platform::SendMessage(w, app::WM_UPDATE_PROGRESS, 2, 0), 1);  // no record: ignored
    // Sizes past 4 GiB; a retry keeps the bar; a body of unknown length
    // shows the bytes alone.
    const platform::WindowHandle bar = platform::GetDlgItem(w, app::IDC_DOWNLOAD_PROGRESS);
    const struct {
      int code;
      std::int64_t total, received;
      const char* text;
      int position;
    } records[] = {
        {http::NOTIFY_PROGRESS, 1000, 500, "已经下载500字节/共1000字节", 50},
        {http::NOTIFY_PROGRESS, 6000000000, 5999999999, "已经下载5999999999字节/共6000000000字节",
         99},
        {http::NOTIFY_RETRY, 6000000000, 5999999999, app::kRetryingText, 99},
        {http::NOTIFY_PROGRESS, 9000000000000000000, 4500000000000000000,
         "已经下载4500000000000000000字节/共9000000000000000000字节", 50},
        {http::NOTIFY_PROGRESS, -1, 4294967296, "已经下载4294967296字节", 0},
    };
    for (const auto& r : records) {
      http::DownloadProgress record{
          .code = r.code, .totalSize = r.total, .receivedSize = r.received, .fileName = {}};
      EXPECT_EQ(platform::SendMessage(w, app::WM_UPDATE_PROGRESS, 2,
                                      reinterpret_cast<platform::LParam>(&record)),
                0);
      EXPECT_EQ(platform::GetDlgItemText(w, app::IDC_STATUS_TEXT), r.text);
      EXPECT_EQ(platform::SendMessage(bar, platform::kPbmGetPos, 0, 0), r.position) << r.text;
    }
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
  // Linux kernels and every Windows the updater meets today report 6 or more.
  EXPECT_EQ(shell.started,
            std::vector<std::string>{scratch.path() + platform::PathSeparator() + "Korvanta.exe|" +
                                     (platform::OsMajorVersion() >= 6 ? "runas" : "")})
      << platform::OsMajorVersion();
  EXPECT_FALSE(dialog.workerStarted());
  EXPECT_TRUE(shell.boxes.empty());
}

// Where the user may not write (here: a program directory that does not
// exist), the package is downloaded into the temporary directory and handed
// to an elevated run of the updater, which installs it and starts the main
// application. Without elevation the run fails before any connection; a
// refused prompt brings message 2.
TEST_F(UpdateDialogFlow, WhereItMayNotWriteTheDownloadGoesToAnElevatedRun) {
  const std::string package = testsupport::PatternBytes(3000);
  const std::string response = testsupport::HttpResponse("HTTP/1.1 200 OK", "", package);
  // A server that refuses HEAD: the GET decides.
  testsupport::ScriptedServer server([&](testsupport::ScriptedExchange& e) {
    const bool head = e.request().starts_with("HEAD");
    e.Send(head ? "HTTP/1.1 405 Method Not Allowed\r\nContent-Length: 0\r\n\r\n" : response);
  });
  const testsupport::ScopedEnvVar tmpDir("TMPDIR", scratch.path()), tmp("TMP", scratch.path()),
      temp("TEMP", scratch.path());
  const std::string self = scratch.Join("absent") + platform::PathSeparator() + "updater";
  const std::string downloaded =
      platform::TemporaryDirectory() + "korvanta-update" + platform::PathSeparator() + "update.zip";
  const std::string argument = server.Url(std::string("/update.zip?") + app::kVendorDomain);
  for (const auto& [canElevate, granted] : {std::pair{false, false}, {true, false}, {true, true}}) {
    SCOPED_TRACE(testing::Message() << canElevate << granted);
    shell.canElevate = canElevate;
    shell.elevationGranted = granted;
    shell.boxes.clear();
    shell.elevated.clear();
    const int connections = server.ConnectionCount();
    app::UpdateDialog dialog(app::RunEnvironment{"\"" + self + "\" " + argument, self});
    dialog.DoModal();
    EXPECT_EQ(server.ConnectionCount() > connections, canElevate);
    EXPECT_EQ(shell.boxes.size(), granted ? 0u : 1u);
    EXPECT_EQ(shell.elevated, canElevate ? std::vector<std::string>{self + "|" + downloaded}
                                         : std::vector<std::string>{});
    EXPECT_EQ(testsupport::ReadFileBytes(downloaded), canElevate ? package : "");
  }
  EXPECT_TRUE(shell.started.empty());
  EXPECT_FALSE(platform::GetFileStatus(scratch.Join("absent")).has_value());
}

// Closing the dialog while the name look-up still holds back ends the run at
// once (no time-out ran out): nothing is shown or started, and the partial
// download stays as it was for the next run. Closing while a header is held
// back or the body drips is run on the real program in
// tests/e2e/closing_terminal_test.py.
using namespace std::chrono_literals;
using Signal = std::counting_semaphore<1>;
// Long beyond any wait of a run that honours the close.
bool Await(Signal& signal) { return signal.try_acquire_for(20s); }

// Name look-ups hold back until the test lets them go; everything else goes
// to the system.
class HeldLookUp : public testsupport::TableNames {
 public:
  HeldLookUp() : TableNames({}) {}
  std::vector<platform::IpAddress> LookUpAddresses(const char*) override {
    reached.release();
    if (!Await(released)) gaveUp = true;
    returned.release();
    return {};
  }
  Signal reached{0}, released{0}, returned{0};
  std::atomic<bool> gaveUp{false};
};

TEST_F(UpdateDialogFlow, ClosingDuringTheNameLookUpEndsTheRunAtOnceAndKeepsThePartialDownload) {
  const std::string partial = testsupport::PatternBytes(5000);
  ASSERT_TRUE(testsupport::WriteFileBytes(scratch.Join("update.zip.down"), partial));
  HeldLookUp lookUps;
  const net::ScopedSocketCalls calls(lookUps);
  ObservedDialog dialog(
      Environment(std::string("http://closing.invalid/update.zip?") + app::kVendorDomain));
  auto window = dialog.window.get_future();
  std::thread closer([&] {
    const platform::WindowHandle w = window.get();
    if (Await(lookUps.reached)) platform::SendMessage(w, platform::kWmClose, 0, 0);
  });
  dialog.DoModal();
  const bool stillHeld = !lookUps.gaveUp.load();
  lookUps.released.release();
  closer.join();
  // The look-up's thread was left behind; it must be done with the stand-in.
  EXPECT_TRUE(Await(lookUps.returned));
  EXPECT_TRUE(stillHeld);
  EXPECT_EQ(dialog.shutdown().state(), app::RunState::kDone);
  EXPECT_TRUE(shell.boxes.empty());
  EXPECT_TRUE(shell.started.empty());
  EXPECT_EQ(testsupport::ReadFileBytes(scratch.Join("update.zip.down")), partial);
  EXPECT_FALSE(platform::GetFileStatus(scratch.Join("update.zip")).has_value());
}

// A run that cannot read its own path fails with message 2 and does nothing
// else: it never takes the drive root or the current directory for the
// program directory.
TEST_F(UpdateDialogFlow, WithoutItsOwnPathTheRunShowsMessageTwoWhateverItWasAskedToDo) {
  for (const std::string& argument :
       {std::string(), std::string("http://dl.") + app::kVendorDomain + "/update.zip",
        std::string("update.zip")}) {
    SCOPED_TRACE(argument);
    shell.boxes.clear();
    app::UpdateDialog dialog(app::RunEnvironment{"\"\" " + argument, ""});
    dialog.DoModal();
    EXPECT_EQ(shell.boxes,
              std::vector<std::string>{std::string("提示|") +
                                       app::MessageText(app::FailureMessage::kDownloadFailed)});
    EXPECT_FALSE(dialog.workerStarted());
  }
  EXPECT_TRUE(shell.started.empty());
}

}  // namespace
