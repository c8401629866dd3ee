#include "app/public_key.h"
#include "app/update_run.h"
#include "platform/files.h"
#include "signing/release_acceptance.h"

namespace app {

// A program built without a key installs packages unverified. With a key, the
// package's signature must hold and its release must not be older than the
// installed one; a downloaded package's signature is fetched whole with the
// run's own downloader (its settings; no resume, no progress records). The
// accepted signature is held until the package is installed. A refused
// download is removed with its signature; the caller ends the run.
bool UpdateRun::CheckPackage(const std::string& archivePath, PackageOrigin origin) {
  EnterStep(RunStep::kSignature);
  m_acceptedSignature.clear();
  if (kPublicKey[0] == '\0') {
    m_log.Write("signature: not checked, the updater has no key");
    return true;
  }
  const std::string signaturePath = archivePath + kSignatureSuffix;
  RunFailure refused{RunStep::kSignature, FailureKind::kSignatureRefused};
  bool fetched = true;
  if (origin == PackageOrigin::kDownloaded) {
    m_downloader.SetProgressCallback(nullptr);
    m_downloader.maxSize = static_cast<std::int64_t>(signing::kMaxSignatureFileSize);
    const std::string url = m_plan.argument + kSignatureSuffix;
    const http::DownloadResult result = m_downloader.Download(url, signaturePath, 1);
    m_downloader.maxSize = 0;
    // Closing the run stopped the fetch on purpose: no message, no install.
    if (m_shutdown.CloseRequested()) return false;
    fetched = LogDownload("GET", url, result == http::DOWNLOAD_OK, DownloadResultText(result));
    if (!fetched) refused.httpStatus = LastStatus();
  }
  signing::PublicKey key;
  if (fetched && signing::ParsePublicKey(kPublicKey, key)) {
    refused.signature =
        signing::AcceptRelease(key, archivePath, signaturePath,
                               m_programDir + kInstalledSignatureName, m_acceptedSignature);
  }
  if (refused.signature == signing::SIGNATURE_OK) {
    m_log.Write("signature: accepted");
    return true;
  }
  m_acceptedSignature.clear();
  Fail(std::move(refused));
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
