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
#include "app/run_shutdown.h"
#include "app/vendor_config.h"
#include "net/socket_library.h"
#include "platform/files.h"
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

// Where a run waits on its peer, closing the dialog ends it while the peer
// still holds back (no time-out ran out): nothing is shown or started, and the
// partial download stays as it was for the next run.
using namespace std::chrono_literals;

// Long beyond any wait of a run that honours the close.
constexpr auto kPeerPatience = 20s;

// Each signal is given once by one thread and awaited once by another.
using Signal = std::counting_semaphore<1>;
bool Await(Signal& signal) { return signal.try_acquire_for(kPeerPatience); }

// The peer's side of one moment: notes its first contact, tells the test it
// is holding back, and holds back until the test lets it go.
struct HeldPeer {
  Signal reached{0}, released{0}, returned{0};
  std::atomic<bool> gaveUp{false};
  std::atomic<Clock::rep> firstContact{0};  // ticks of the steady clock
  void Contact() {
    Clock::rep none = 0;
    firstContact.compare_exchange_strong(none, Clock::now().time_since_epoch().count());
  }
  void HoldBack() {
    reached.release();
    if (!Await(released)) gaveUp = true;
    returned.release();
  }
};

// Name look-ups hold back; everything else goes to the system.
class HeldLookUp : public testsupport::TableNames {
 public:
  explicit HeldLookUp(HeldPeer& peer) : TableNames({}), peer_(peer) {}
  std::uint32_t LookUpHost(const char*) override {
    peer_.Contact();
    peer_.HoldBack();
    return 0xFFFFFFFFu;
  }

 private:
  HeldPeer& peer_;
};

TEST_F(UpdateDialogFlow, ClosingEndsTheRunAtOnceWhereverItWaitsAndKeepsThePartialDownload) {
  enum class Moment { kNameLookUp, kHeadHeader, kGetHeader };
  struct Case {
    const char* name;
    Moment moment;
    int requests;  // what the server saw before the close
  };
  const Case cases[] = {
      {"during the name look-up", Moment::kNameLookUp, 0},
      {"while the HEAD response's header is awaited", Moment::kHeadHeader, 1},
      {"while the GET response's header is awaited", Moment::kGetHeader, 2},
  };
  const std::string header =
      "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n"
      "Last-Modified: Sun, 06 Nov 2022 08:49:37 GMT\r\n\r\n";
  const std::string partial = testsupport::PatternBytes(5000);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HeldPeer peer;
    testsupport::ScriptedServer server([&](testsupport::ScriptedExchange& exchange) {
      peer.Contact();
      const bool head = exchange.request().rfind("HEAD ", 0) == 0;
      if ((head && c.moment == Moment::kHeadHeader) || (!head && c.moment == Moment::kGetHeader)) {
        peer.HoldBack();
        return;
      }
      exchange.Send(header);
    });
    ASSERT_TRUE(server.listening());
    HeldLookUp lookUps(peer);
    const net::ScopedSocketCalls calls(lookUps);
    ASSERT_TRUE(testsupport::WriteFileBytes(scratch.Join("update.zip.down"), partial));
    const std::string object = std::string("/update.zip?") + app::kVendorDomain;
    ObservedDialog dialog(
        Environment(c.moment == Moment::kNameLookUp
                        ? "http://closing.invalid:" + std::to_string(server.port()) + object
                        : server.Url(object)));
    auto window = dialog.window.get_future();
    std::thread closer([&] {
      const platform::WindowHandle w = window.get();
      if (Await(peer.reached)) platform::SendMessage(w, platform::kWmClose, 0, 0);
    });
    dialog.DoModal();
    const bool peerStillHeld = !peer.gaveUp.load();
    peer.released.release();
    closer.join();
    // The look-up's thread was left behind; it must be done with the stand-in.
    EXPECT_TRUE(Await(peer.returned));
    server.Stop();

    EXPECT_TRUE(peerStillHeld);
    // The worker starts about a second after the dialog is initialised.
    EXPECT_GE(Clock::time_point(Clock::duration(peer.firstContact.load())) - dialog.initialisedAt,
              950ms);
    EXPECT_EQ(dialog.shutdown().state(), app::RunState::kDone);
    EXPECT_EQ(static_cast<int>(server.Requests().size()), c.requests);
    EXPECT_TRUE(shell.boxes.empty());
    EXPECT_TRUE(shell.started.empty());
    EXPECT_EQ(testsupport::ReadFileBytes(scratch.Join("update.zip.down")), partial);
    EXPECT_FALSE(platform::GetFileStatus(scratch.Join("update.zip")).has_value());
  }
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
    EXPECT_EQ(dialog.programDir(), "");
    EXPECT_FALSE(dialog.workerStarted());
  }
  EXPECT_TRUE(shell.started.empty());
}

}  // namespace
