// The run flow through a scripted view, with the shell replaced so that
// nothing is started, elevated or not; and the update dialog as a view over
// the real window runtime.
#include "app/update_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <semaphore>
#include <thread>
#include <vector>

#include "app/progress_display.h"
#include "app/run_log.h"
#include "app/update_dialog.h"
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

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using app::ExitStatus;
using app::FailureKind;

// Records the programs started (path|verb) and the elevated runs
// (path|parameters).
struct ShellRecorder {
  ShellRecorder() {
    platform::ShellOverrides o;
    o.startProgram = [this](const std::string& path, const char* verb) {
      return Record(started, path + "|" + (verb != nullptr ? verb : ""), true);
    };
    o.canElevate = [this] { return canElevate; };
    o.startElevated = [this](const std::string& path, const std::string& parameters) {
      return Record(elevated, path + "|" + parameters, elevationGranted);
    };
    platform::SetShellOverrides(o);
  }
  ~ShellRecorder() { platform::SetShellOverrides({}); }
  bool Record(std::vector<std::string>& list, const std::string& entry, bool result) {
    std::lock_guard<std::mutex> lock(mutex);
    list.push_back(entry);
    return result;
  }
  std::mutex mutex;
  std::vector<std::string> started, elevated;
  bool canElevate = false, elevationGranted = false;
};

std::string Shown(FailureKind kind) { return "failure " + std::to_string(static_cast<int>(kind)); }

// What the run showed, in order, and what it logged. The question is answered
// "give up".
class ScriptedView : public app::RunView, public platform::LogSink {
 public:
  void ShowStatus(const std::string& text) override { Note(shown, text); }
  void ShowProgress(const http::DownloadProgress&) override {}
  void ShowDownloaded() override { Note(shown, "downloaded"); }
  bool AskRetryWhileProgramsRun() override { return false; }
  void ShowFailure(const app::RunFailure& failure) override { Note(shown, Shown(failure.kind)); }
  void Close() override { Note(shown, "close"); }
  void Write(std::string_view line) override { Note(logged, std::string(line) + "\n"); }
  void Note(std::vector<std::string>& list, const std::string& what) {
    std::lock_guard<std::mutex> lock(mutex);
    list.push_back(what);
  }
  bool Logged(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex);
    return std::any_of(logged.begin(), logged.end(),
                       [&](const std::string& line) { return line.find(text) != line.npos; });
  }
  std::mutex mutex;
  std::vector<std::string> shown, logged;
};

class UpdateRunFlow : public ::testing::Test {
 protected:
  app::RunEnvironment Environment(const std::string& argument, bool silent = false) const {
    const std::string self = scratch.Join("updater");
    return app::RunEnvironment{"\"" + self + "\" " + argument, self, silent};
  }
  testsupport::ScratchDir scratch;
  ShellRecorder shell;
  ScriptedView view;
};

// What the command line decides before any work: the failure the view shows
// before it is closed, and the exit status. An address of another domain
// waits for the view's close.
TEST_F(UpdateRunFlow, BeginEndsTheRunsThatHaveNoWork) {
  const std::string vendorUrl = std::string("http://dl.") + app::kVendorDomain + "/update.zip";
  struct Case {
    app::RunEnvironment environment;
    bool work;
    std::vector<std::string> shown;
    ExitStatus status;
  };
  const Case cases[] = {
      {Environment(""), false, {Shown(FailureKind::kNoArgument), "close"}, ExitStatus::kNoArgument},
      {{"\"\" " + vendorUrl, ""},
       false,
       {Shown(FailureKind::kNoProgramDirectory), "close"},
       ExitStatus::kFailed},
      {{"\"\" update.zip", ""},
       false,
       {Shown(FailureKind::kNoProgramDirectory), "close"},
       ExitStatus::kFailed},
      {Environment("http://other.example.test/u.zip"), false, {}, ExitStatus::kFailed},
      {Environment(vendorUrl), true, {}, ExitStatus::kFailed},  // until it has worked
      {Environment(scratch.Join("u.zip")), true, {}, ExitStatus::kFailed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.environment.commandLine);
    ScriptedView seen;
    app::UpdateRun run(c.environment, seen, seen);
    EXPECT_EQ(run.Begin(), c.work);
    EXPECT_EQ(seen.shown, c.shown);
    EXPECT_EQ(run.exitStatus(), c.status);
    EXPECT_TRUE(seen.Logged(std::string("start: updater ") + app::kUpdaterVersion));
  }
  EXPECT_TRUE(shell.started.empty());
}

TEST_F(UpdateRunFlow, ALocalPathThatIsNoArchiveStillStartsTheMainApplication) {
  app::UpdateRun run(Environment(scratch.Join("missing.zip")), view, view);
  const auto start = Clock::now();
  ASSERT_TRUE(run.Begin());
  run.Work();
  EXPECT_GE(Clock::now() - start, 2950ms);
  // Linux kernels and every Windows the updater meets today report 6 or more.
  EXPECT_EQ(shell.started,
            std::vector<std::string>{scratch.path() + platform::PathSeparator() + "Korvanta.exe|" +
                                     (platform::OsMajorVersion() >= 6 ? "runas" : "")})
      << platform::OsMajorVersion();
  EXPECT_EQ(view.shown, std::vector<std::string>{"close"});
  EXPECT_EQ(run.exitStatus(), ExitStatus::kUpdated);
  EXPECT_TRUE(view.Logged("install: no zip archive at that path"));
}

// Where the user may not write (here: a program directory that does not
// exist), the package is downloaded into the temporary directory and handed
// to an elevated run of the updater, which installs it and starts the main
// application. Without elevation, or silently, the run fails before any
// connection; a refused prompt fails after the download. This run installs
// nothing in any case.
TEST_F(UpdateRunFlow, WhereItMayNotWriteTheDownloadGoesToAnElevatedRun) {
  const std::string package = testsupport::PatternBytes(3000);
  const std::string response = testsupport::HttpResponse("HTTP/1.1 200 OK", "", package);
  // A server that refuses HEAD: the GET decides; the first GET is told to
  // come again at once.
  std::atomic<bool> busy{true};
  testsupport::ScriptedServer server([&](testsupport::ScriptedExchange& e) {
    const bool head = e.request().starts_with("HEAD");
    e.Send(head ? "HTTP/1.1 405 Method Not Allowed\r\nContent-Length: 0\r\n\r\n"
           : busy.exchange(false)
               ? "HTTP/1.1 503 Busy\r\nRetry-After: 0\r\nContent-Length: 0\r\n\r\n"
               : response);
  });
  const testsupport::ScopedEnvVar tmpDir("TMPDIR", scratch.path()), tmp("TMP", scratch.path()),
      temp("TEMP", scratch.path());
  const std::string self = scratch.Join("absent") + platform::PathSeparator() + "updater";
  const std::string downloaded = app::UserUpdateDirectory() + "update.zip";
  const std::string argument = server.Url(std::string("/update.zip?") + app::kVendorDomain);
  // A link planted at the hand-over folder's name (where links can be made)
  // gives way to a folder of the run's own: nothing is written through it.
  const std::string elsewhere = scratch.Join("elsewhere");
  platform::CreateDirectory(elsewhere);
  platform::CreateSymbolicLink(elsewhere, scratch.Join("korvanta-update"));
  struct Case {
    bool silent, canElevate, granted;
    FailureKind kind;
  };
  const Case cases[] = {
      {false, false, false, FailureKind::kNotWritable},
      {true, true, true, FailureKind::kNotWritable},  // never a prompt
      {false, true, false, FailureKind::kElevationRefused},
      {false, true, true, FailureKind::kHandedOver},  // quietly
  };
  bool retried = false;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.silent << c.canElevate << c.granted);
    shell.canElevate = c.canElevate;
    shell.elevationGranted = c.granted;
    shell.elevated.clear();
    platform::DeleteFile(downloaded);
    const int connections = server.ConnectionCount();
    ScriptedView seen;
    app::UpdateRun run(app::RunEnvironment{"\"" + self + "\" " + argument, self, c.silent}, seen,
                       seen);
    ASSERT_TRUE(run.Begin());
    run.Work();
    const bool asked = c.canElevate && !c.silent;
    EXPECT_EQ(server.ConnectionCount() > connections, asked);
    ASSERT_TRUE(run.failure().has_value());
    EXPECT_EQ(run.failure()->kind, c.kind);
    EXPECT_EQ(seen.shown.end()[-2] == Shown(c.kind), c.kind != FailureKind::kHandedOver);
    EXPECT_EQ(run.exitStatus(), ExitStatus::kFailed);
    EXPECT_EQ(shell.elevated, asked ? std::vector<std::string>{self + "|" + downloaded}
                                    : std::vector<std::string>{});
    EXPECT_EQ(testsupport::ReadFileBytes(downloaded), asked ? package : "");
    EXPECT_EQ(seen.Logged("exchange: HEAD http://127.0.0.1:" + std::to_string(server.port()) +
                          "/update.zip?" + app::kVendorDomain + ": HTTP 405, direct"),
              asked);
    retried = retried || seen.Logged("retry in 0 ms: the server answered HTTP 503");
  }
  EXPECT_TRUE(retried);
  EXPECT_TRUE(shell.started.empty());
  EXPECT_FALSE(platform::GetFileStatus(scratch.Join("absent")).has_value());
  EXPECT_EQ(platform::ListDirectory(elsewhere), std::vector<std::string>{});
  EXPECT_EQ(platform::GetEntryStatus(scratch.Join("korvanta-update"))->kind,
            platform::EntryKind::kDirectory);
  // The log goes beside the package.
  EXPECT_EQ(app::LogDirectory(app::DirectoryOf(self)), app::UserUpdateDirectory());
  EXPECT_EQ(app::LogDirectory(scratch.path() + platform::PathSeparator()),
            scratch.path() + platform::PathSeparator());
}

// Closing while the name look-up still holds back ends the run at once (no
// time-out ran out): nothing is shown or started, and the partial download
// stays as it was for the next run. Closing while a header is held back or
// the body drips is run on the real program in
// tests/e2e/closing_terminal_test.py.
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

TEST_F(UpdateRunFlow, ClosingDuringTheNameLookUpEndsTheRunAtOnceAndKeepsThePartialDownload) {
  const std::string partial = testsupport::PatternBytes(5000);
  ASSERT_TRUE(testsupport::WriteFileBytes(scratch.Join("update.zip.down"), partial));
  HeldLookUp lookUps;
  const net::ScopedSocketCalls calls(lookUps);
  app::UpdateRun run(
      Environment(std::string("http://closing.invalid/update.zip?") + app::kVendorDomain), view,
      view);
  ASSERT_TRUE(run.Begin());
  std::thread worker([&] { run.Work(); });
  const bool reached = Await(lookUps.reached);
  run.RequestClose();
  // Within a poll of the close, while the look-up still holds back.
  const auto deadline = Clock::now() + 10s;
  while (reached && !run.Finished() && Clock::now() < deadline) std::this_thread::sleep_for(10ms);
  const bool ended = run.Finished();
  lookUps.released.release();
  worker.join();
  // The look-up's thread was left behind; it must be done with the stand-in.
  EXPECT_TRUE(Await(lookUps.returned));
  EXPECT_TRUE(ended);
  EXPECT_FALSE(lookUps.gaveUp.load());
  ASSERT_TRUE(run.failure().has_value());
  EXPECT_EQ(run.failure()->kind, FailureKind::kClosed);
  EXPECT_EQ(run.failure()->step, app::RunStep::kDownload);
  EXPECT_EQ(run.exitStatus(), ExitStatus::kFailed);
  EXPECT_TRUE(view.shown.empty());  // the view went by itself
  EXPECT_TRUE(shell.started.empty());
  EXPECT_EQ(testsupport::ReadFileBytes(scratch.Join("update.zip.down")), partial);
  EXPECT_FALSE(platform::GetFileStatus(scratch.Join("update.zip")).has_value());
}

// The dialog as a view: a progress record reaches its status line and bar as
// message 1125 (one without a record is ignored), and its close ends a run
// that waits for it.
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

TEST_F(UpdateRunFlow, TheDialogShowsProgressRecordsAndItsCloseEndsTheRun) {
  // The POSIX window runtime shows no dialog of its own (Windows ignores it).
  const testsupport::ScopedEnvVar ui("UPDATER_UI", "none");
  ObservedDialog dialog(Environment("http://other.example.test/update.zip"), view);
  auto window = dialog.window.get_future();
  std::thread sender([&] {
    const platform::WindowHandle w = window.get();
    EXPECT_EQ(platform::GetDlgItemText(w, app::IDC_STATUS_TEXT), "链接服务器，请等待...");
    EXPECT_EQ(platform::SendMessage(w, app::WM_UPDATE_PROGRESS, 2, 0), 1);
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
      dialog.ShowProgress(http::DownloadProgress{
          .code = r.code, .totalSize = r.total, .receivedSize = r.received, .fileName = {}});
      EXPECT_EQ(platform::GetDlgItemText(w, app::IDC_STATUS_TEXT), r.text);
      EXPECT_EQ(platform::SendMessage(bar, platform::kPbmGetPos, 0, 0), r.position) << r.text;
    }
    platform::SendMessage(w, platform::kWmClose, 0, 0);
  });
  dialog.DoModal();
  sender.join();
  EXPECT_EQ(dialog.exitStatus(), ExitStatus::kFailed);
  EXPECT_TRUE(view.Logged("another domain's address"));
}

}  // namespace
