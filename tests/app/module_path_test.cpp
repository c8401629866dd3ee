// A run that cannot read its own path fails with message 2 and does nothing
// else: it never takes the drive root or the current directory for the
// program directory.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/messages.h"
#include "app/update_dialog.h"
#include "app/vendor_config.h"
#include "platform/shell.h"
#include "support/environment.h"

namespace {

TEST(ModulePath, WithoutItTheRunShowsMessageTwoWhateverItWasAskedToDo) {
  testsupport::SetEnvVar("UPDATER_UI", "none");
  std::vector<std::string> boxes;
  int started = 0;
  platform::ShellOverrides shell;
  shell.messageBox = [&](platform::WindowHandle, const std::string& text, const std::string&,
                         unsigned) {
    boxes.push_back(text);
    return platform::kIdCancel;
  };
  shell.startProgram = [&](const std::string&, const char*) { return ++started > 0; };
  platform::SetShellOverrides(shell);
  const std::string arguments[] = {
      "",
      std::string("http://dl.") + app::kVendorDomain + "/update.zip",
      "update.zip",
  };
  for (const std::string& argument : arguments) {
    SCOPED_TRACE(argument);
    boxes.clear();
    app::UpdateDialog dialog(app::RunEnvironment{"\"\" " + argument, ""});
    dialog.DoModal();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], app::MessageText(app::FailureMessage::kDownloadFailed));
    EXPECT_EQ(dialog.programDir(), "");
    EXPECT_FALSE(dialog.workerStarted());
  }
  EXPECT_EQ(started, 0);
  platform::SetShellOverrides({});
}

}  // namespace
