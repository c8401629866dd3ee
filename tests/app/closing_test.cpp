// Closing the dialog at the moments where a run waits on its peer: the run
// ends while the peer still holds back (no time-out ran out), reports nothing,
// starts nothing, and leaves the partial download as it was for the next run.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/run_shutdown.h"
#include "app/update_dialog.h"
#include "app/vendor_config.h"
#include "net/socket_library.h"
#include "platform/shell.h"
#include "support/environment.h"
#include "support/pass_through_socket_calls.h"
#include "support/scratch_dir.h"
#include "support/scripted_server.h"

namespace {

using namespace std::chrono_literals;

// Opened once by one thread, awaited by another.
class Latch {
 public:
  void Open() {
    const std::lock_guard<std::mutex> lock(mutex_);
    open_ = true;
    changed_.notify_all();
  }
  bool Await(std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, limit, [this] { return open_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool open_ = false;
};

// Long beyond any wait of a run that honours the close: a peer that is still
// holding back when the run has ended shows that the close ended it.
constexpr auto kPeerPatience = 20s;

// The peer's side of one moment: it tells the test it is holding back, and
// holds back until the test lets it go (or its patience ends).
struct HeldPeer {
  Latch reached;
  Latch released;
  Latch returned;
  std::atomic<bool> gaveUp{false};
  void HoldBack() {
    reached.Open();
    if (!released.Await(kPeerPatience)) gaveUp = true;
    returned.Open();
  }
};

// Name look-ups hold back; everything else goes to the system.
class HeldLookUp : public testsupport::PassThroughSocketCalls {
 public:
  explicit HeldLookUp(HeldPeer& peer) : peer_(peer) {}
  std::uint32_t LookUpHost(const char*) override {
    peer_.HoldBack();
    return 0xFFFFFFFFu;
  }

 private:
  HeldPeer& peer_;
};

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

enum class Moment { kNameLookUp, kHeadHeader, kGetHeader };

TEST(ClosingTheRun, EndsAtOnceWhereverItWaitsAndKeepsThePartialDownload) {
  testsupport::SetEnvVar("UPDATER_UI", "none");
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
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HeldPeer peer;
    std::atomic<int> shownOrStarted{0};
    platform::ShellOverrides shell;
    shell.messageBox = [&](platform::WindowHandle, const std::string&, const std::string&,
                           unsigned) {
      ++shownOrStarted;
      return platform::kIdCancel;
    };
    shell.startProgram = [&](const std::string&, const char*) {
      ++shownOrStarted;
      return true;
    };
    platform::SetShellOverrides(shell);

    const std::string header =
        "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n"
        "Last-Modified: Sun, 06 Nov 2022 08:49:37 GMT\r\n\r\n";
    testsupport::ScriptedServer server([&](testsupport::ScriptedExchange& exchange) {
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

    testsupport::ScratchDir scratch;
    const std::string partial = testsupport::PatternBytes(5000);
    ASSERT_TRUE(testsupport::WriteFileBytes(scratch.Join("update.zip.down"), partial));
    const std::string object = std::string("/update.zip?") + app::kVendorDomain;
    const std::string url = c.moment == Moment::kNameLookUp
                                ? "http://closing.invalid:" + std::to_string(server.port()) + object
                                : server.Url(object);
    const std::string self = scratch.Join("updater");
    ObservedDialog dialog(app::RunEnvironment{"\"" + self + "\" " + url, self});
    auto window = dialog.window.get_future();
    std::thread closer([&] {
      const platform::WindowHandle w = window.get();
      if (peer.reached.Await(kPeerPatience)) platform::SendMessage(w, platform::kWmClose, 0, 0);
    });
    dialog.DoModal();
    const bool peerStillHeld = !peer.gaveUp.load();
    peer.released.Open();
    closer.join();
    // The look-up's thread was left behind; it must be done with the stand-in.
    EXPECT_TRUE(peer.returned.Await(kPeerPatience));
    server.Stop();

    EXPECT_TRUE(peerStillHeld);
    EXPECT_EQ(dialog.shutdown().state(), app::RunState::kDone);
    EXPECT_EQ(static_cast<int>(server.Requests().size()), c.requests);
    EXPECT_EQ(shownOrStarted.load(), 0);
    EXPECT_EQ(testsupport::ReadFileBytes(scratch.Join("update.zip.down")), partial);
    EXPECT_EQ(testsupport::ReadFileBytes(scratch.Join("update.zip")), "");
    platform::SetShellOverrides({});
  }
}

// What the worker may still do once the close is asked, whenever it comes.
TEST(RunShutdown, ACloseStopsAnyLaterCommitButNeverOneUnderWay) {
  enum Step { kClose, kBegin, kEnd };
  struct Case {
    const char* name;
    std::vector<Step> steps;
    bool commitBegun;  // the last BeginCommit's answer
    app::RunState after;
  };
  const Case cases[] = {
      {"close before the install", {kClose, kBegin}, false, app::RunState::kClosing},
      {"close during the commit", {kBegin, kClose}, true, app::RunState::kCommitting},
      {"commit ended after the close", {kBegin, kClose, kEnd}, true, app::RunState::kClosing},
      {"rolled back, then closed", {kBegin, kEnd, kClose}, true, app::RunState::kClosing},
      {"rolled back, a second install", {kBegin, kEnd, kBegin}, true, app::RunState::kCommitting},
      {"a second install after a close",
       {kBegin, kClose, kEnd, kBegin},
       false,
       app::RunState::kClosing},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    app::RunShutdown shutdown;
    bool begun = false;
    for (const Step step : c.steps) {
      if (step == kClose) shutdown.RequestClose();
      if (step == kBegin) begun = shutdown.BeginCommit();
      if (step == kEnd) shutdown.EndCommit();
    }
    EXPECT_EQ(begun, c.commitBegun);
    EXPECT_EQ(shutdown.state(), c.after);
    // The network waits see the close from the moment it is asked, even
    // while a commit holds it back.
    const bool closeAsked = std::find(c.steps.begin(), c.steps.end(), kClose) != c.steps.end();
    EXPECT_EQ(shutdown.stopFlag().load() != 0, closeAsked);
  }
}

}  // namespace
