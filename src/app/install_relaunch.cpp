#include <iterator>
#include <utility>

#include "app/public_key.h"
#include "app/run_log.h"
#include "app/update_run.h"
#include "install/install_transaction.h"
#include "platform/files.h"
#include "platform/install_files.h"
#include "platform/shell.h"
#include "signing/release_acceptance.h"

namespace app {
namespace {

constexpr const char* kOutcomeTexts[] = {"installed", "no zip archive at that path", "failed",
                                         "given up before the commit"};
static_assert(std::size(kOutcomeTexts) ==
              static_cast<std::size_t>(install::InstallOutcome::kDeclined) + 1);

}  // namespace

// Checks a local archive and installs it as one transaction over the program
// directory: the main application is then started, also when the path names
// no zip archive (nothing to install: the user's text named something else);
// an archive that is refused or cannot be installed whole leaves the program
// directory as it was and brings message 2. An archive that the user gives up
// installing (the main application still runs) is kept, and the run ends
// without a message.
void UpdateRun::InstallLocal(const std::string& archivePath) {
  // With a key, the package and its signature are checked and installed as
  // copies in the program directory, which only this run writes: the user's
  // own files (for an elevated run, those in the user's temporary directory)
  // could be replaced between the check and the install.
  const std::string copy = m_programDir + kLocalCopyName;
  const bool copies = kPublicKey[0] != '\0' && !platform::SameFile(archivePath, copy);
  const std::string package = copies ? copy : archivePath;
  const auto removeCopies = [&] {
    if (!copies) return;
    platform::DeleteFile(copy);
    platform::DeleteFile(copy + kSignatureSuffix);
  };
  removeCopies();  // left by a run that ended before it could remove them
  bool copied = !copies || platform::CopyToNewFile(archivePath, copy);
  if (!copied) {
    Fail({RunStep::kInstall, FailureKind::kInstallFailed});
  } else if (copies &&
             !platform::CopyToNewFile(archivePath + kSignatureSuffix, copy + kSignatureSuffix)) {
    RunFailure missing(RunStep::kSignature, FailureKind::kSignatureRefused);
    missing.signature = signing::SIGNATURE_MALFORMED;
    Fail(std::move(missing));
    copied = false;
  }
  const install::InstallOutcome outcome = copied && CheckPackage(package, PackageOrigin::kLocal)
                                              ? InstallPackage(package)
                                              : install::InstallOutcome::kDeclined;
  removeCopies();
  m_installed = outcome == install::InstallOutcome::kInstalled ||
                outcome == install::InstallOutcome::kNoArchive;
  if (outcome != install::InstallOutcome::kFailed) return;
  Fail({RunStep::kInstall, FailureKind::kInstallFailed});
  // A package that an unelevated run downloaded for this one is the
  // updater's own, not the user's: a failed one goes, as after a download.
  if (archivePath == PackagePath(true)) platform::DeleteFile(archivePath);
}

install::InstallOutcome UpdateRun::InstallPackage(const std::string& package) {
  EnterStep(RunStep::kInstall);
  // A close that came first installs nothing; one that comes during the
  // install takes effect once it has ended, whole.
  if (!m_shutdown.BeginCommit()) return install::InstallOutcome::kDeclined;
  const install::InstallOutcome outcome =
      install::InstallArchive(package, m_programDir, [this] { return WaitForProgramsToEnd(); });
  m_shutdown.EndCommit();
  m_log.Write(std::string("install: ") + kOutcomeTexts[static_cast<int>(outcome)]);
  // The accepted signature becomes the installed release's only now: a
  // package that failed or was declined leaves the kept one as it was. One
  // that cannot be written leaves the release before as the oldest accepted;
  // the install stands.
  if (outcome == install::InstallOutcome::kInstalled && !m_acceptedSignature.empty()) {
    signing::KeepReleaseSignature(m_acceptedSignature, m_programDir + kInstalledSignatureName);
  }
  return outcome;
}

bool UpdateRun::InstallDownloaded(const std::string& package) {
  const install::InstallOutcome outcome = InstallPackage(package);
  if (outcome == install::InstallOutcome::kInstalled) return true;
  if (outcome == install::InstallOutcome::kDeclined) return false;  // kept for the next run
  Fail({RunStep::kInstall, FailureKind::kInstallFailed});
  // The next download then fetches the package whole instead of finding it
  // up to date, and its signature anew.
  platform::DeleteFile(package);
  platform::DeleteFile(package + kSignatureSuffix);
  return false;
}

std::string UpdateRun::PackagePath(bool elevated) const {
  return (elevated ? UserUpdateDirectory() : m_programDir) + "update.zip";
}

bool UpdateRun::InstallElevated(const std::string& package) {
  EnterStep(RunStep::kElevation);
  // The elevated run takes the package as a local archive (its 3000 ms wait
  // gives this run the time to end) and starts the main application itself.
  const bool started = platform::StartElevated(m_environment.modulePath, package);
  Fail({RunStep::kElevation, started ? FailureKind::kHandedOver : FailureKind::kElevationRefused});
  return false;
}

}  // namespace app
