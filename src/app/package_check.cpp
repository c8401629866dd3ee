#include "app/command_line.h"
#include "app/public_key.h"
#include "app/update_dialog.h"
#include "platform/files.h"
#include "signing/release_acceptance.h"

namespace app {

// A program built without a key installs packages unverified. With a key, the
// package's signature must hold and its release must not be older than the
// installed one; a downloaded package's signature is fetched whole with the
// run's own downloader (its settings; no resume, no progress records). The
// accepted signature is held until the package is installed. A refused
// download is removed with its signature; the caller ends the run.
bool UpdateDialog::CheckPackage(const std::string& archivePath, PackageOrigin origin) {
  m_acceptedSignature.clear();
  if (kPublicKey[0] == '\0') return true;
  const std::string signaturePath = archivePath + kSignatureSuffix;
  bool accepted = false;
  bool fetched = true;
  if (origin == PackageOrigin::kDownloaded) {
    m_downloader.SetProgressCallback(nullptr);
    m_downloader.maxSize = static_cast<std::int32_t>(signing::kMaxSignatureFileSize);
    fetched =
        m_downloader.Download(m_url + kSignatureSuffix, signaturePath, 1) == http::DOWNLOAD_OK;
    m_downloader.maxSize = 0;
    // Closing the dialog stopped the fetch on purpose: no message, no install.
    if (m_shutdown.CloseRequested()) return false;
  }
  signing::PublicKey key;
  if (fetched && signing::ParsePublicKey(kPublicKey, key)) {
    accepted = signing::AcceptRelease(key, archivePath, signaturePath,
                                      m_programDir + kInstalledSignatureName,
                                      m_acceptedSignature) == signing::SIGNATURE_OK;
  }
  if (accepted) return true;
  if (origin == PackageOrigin::kDownloaded) {
    // Left in place, the refused package would pass as current at the next
    // run's download and be refused again instead of fetched anew.
    platform::DeleteFile(archivePath);
    platform::DeleteFile(signaturePath);
    platform::DeleteFile(signaturePath + ".down");
  }
  return false;
}

}  // namespace app
