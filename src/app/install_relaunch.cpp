#include "app/command_line.h"
#include "app/update_dialog.h"
#include "archive/archive.h"
#include "platform/process.h"
#include "platform/shell.h"

namespace app {

// Extracts every item of the archive below the program directory (an item
// that fails is skipped and the next one tried), starts the main application
// from the updater's directory, elevated where the system has elevation, and
// closes the dialog. Nothing is reported: the run ends either way.
int UpdateDialog::InstallAndRelaunch(std::string archivePath) {
  ArchiveHandle* archive = ArchiveOpen(archivePath.c_str(), nullptr);
  if (archive != nullptr) {
    ArchiveSetTargetDir(archive, m_programDir.c_str());
    ArchiveItem item;
    ArchiveGetItem(archive, -1, &item);
    const std::int32_t count = item.index;
    for (std::int32_t i = 0; i < count; ++i) {
      ArchiveGetItem(archive, i, &item);
      ArchiveExtractItem(archive, i, item.name);
    }
    ArchiveClose(archive);
  }

  const std::string mainApplication = DirectoryOf(m_environment.modulePath) + "Korvanta.exe";
  platform::StartProgram(mainApplication, RelaunchVerb(platform::OsMajorVersion()));
  platform::SendMessage(m_hWnd, platform::kWmClose, 0, 0);
  return 0;
}

}  // namespace app
