#include <algorithm>
#include <chrono>

#include "app/command_line.h"
#include "app/public_key.h"
#include "app/update_run.h"
#include "app/vendor_config.h"
#include "http/address_beside.h"
#include "http/partial_file.h"
#include "install/install_names.h"
#include "platform/files.h"
#include "platform/install_files.h"
#include "platform/system_error.h"

namespace app {
namespace {

std::string TemporaryOf(const std::string& path) { return path + ".down"; }

// Whether the disk that holds `directory` has room for `bytes` more, as far
// as the system tells.
bool RoomFor(const std::string& directory, std::int64_t bytes) {
  const std::optional<std::uint64_t> free = platform::FreeDiskSpace(directory);
  return !free || static_cast<std::uint64_t>(bytes) <= *free;
}

}  // namespace

// A build with a key judges a release by its signature before it takes the
// package. The signature is fetched whole with the run's own downloader (its
// settings; no resume, no progress shown, at most a signature file's size).
bool UpdateRun::FetchSignature(const std::string& packagePath) {
  m_release.reset();
  m_packageDigest.reset();
  if (!SignedBuild()) {
    m_log.Write("signature: not checked, the updater has no key");
    return true;
  }
  EnterStep(RunStep::kSignature);
  const std::string signaturePath = packagePath + signing::kSignatureSuffix;
  m_showProgress = false;
  m_downloader.maxSize = static_cast<std::int64_t>(signing::kMaxSignatureFileSize);
  m_downloader.exactSize = 0;
  const std::string url = http::AddressBeside(m_plan.argument, signing::kSignatureSuffix);
  const http::DownloadResult result = m_downloader.Download(url, signaturePath, 1);
  // Closing the run stopped the fetch on purpose: no message, no install.
  if (m_shutdown.CloseRequested()) return false;
  RunFailure refused{RunStep::kSignature, FailureKind::kSignatureRefused};
  if (!LogDownload("GET", url, result == http::DOWNLOAD_OK, DownloadResultText(result))) {
    refused.httpStatus = LastStatus();
    refused.signature = signing::SIGNATURE_MALFORMED;
  } else {
    signing::SignatureFile signature;
    std::string text;
    refused.signature = signing::ReadSignatureFile(signaturePath, signature, text)
                            ? AcceptSignature(std::move(text))
                            : signing::SIGNATURE_MALFORMED;
    if (refused.signature == signing::SIGNATURE_OK) return true;
  }
  Fail(std::move(refused));
  RemoveDownload(packagePath);
  return false;
}

signing::SignatureResult UpdateRun::AcceptSignature(std::string text) {
  signing::TrustPolicy policy;
  policy.product = kProduct;
  policy.channel = kChannel;
  policy.now = std::chrono::duration_cast<std::chrono::seconds>(
                   std::chrono::system_clock::now().time_since_epoch())
                   .count();
  if (!signing::ParsePublicKeys(kPublicKey, policy.keys)) return signing::SIGNATURE_OTHER_KEY;
  signing::AcceptedRelease release;
  const signing::SignatureResult result = signing::AcceptSignature(
      policy, std::move(text), m_programDir + install::kInstalledSignatureName, release);
  if (result != signing::SIGNATURE_OK) return result;
  m_log.Write("signature: accepted, key " + signing::KeyIdText(release.key.keyId) + ", release " +
              std::to_string(release.fields.timestamp) + ", product " + release.fields.product +
              ", channel " + release.fields.channel + ", " + std::to_string(release.fields.size) +
              " bytes");
  m_release = std::move(release);
  return result;
}

bool UpdateRun::BoundPackage(const std::string& packagePath) {
  const std::int64_t size = m_release ? m_release->fields.size : 0;
  m_downloader.maxSize = size;
  m_downloader.exactSize = size;
  if (!m_release) return true;
  // What a partial download already holds is not asked for again.
  const std::optional<platform::FileStatus> partial =
      platform::GetFileStatus(TemporaryOf(packagePath));
  if (RoomFor(DirectoryOf(packagePath), size - std::min(size, partial ? partial->size : 0))) {
    return true;
  }
  m_log.Write("download: the disk has no room for " + std::to_string(size) + " bytes");
  Fail({RunStep::kDownload, FailureKind::kDownloadFailed});
  return false;
}

bool UpdateRun::TakeLocalPackage(const std::string& archivePath, const std::string& copy) {
  EnterStep(RunStep::kSignature);
  platform::File package = platform::File::Open(archivePath, platform::OpenMode::kReadNoLink);
  platform::File signature = platform::File::Open(archivePath + signing::kSignatureSuffix,
                                                  platform::OpenMode::kReadNoLink);
  RunFailure refused{RunStep::kSignature, FailureKind::kSignatureRefused};
  std::string text;
  refused.signature = package.IsOpen() && signing::ReadSignatureText(signature, text)
                          ? AcceptSignature(std::move(text))
                          : signing::SIGNATURE_MALFORMED;
  if (refused.signature != signing::SIGNATURE_OK) {
    Fail(std::move(refused));
    return false;
  }
  const std::int64_t size = m_release->fields.size;
  platform::DeleteFile(copy);  // left by a run that ended before it could remove it
  RunFailure failed{RunStep::kInstall, FailureKind::kInstallFailed};
  failed.item = install::kLocalCopyName;
  if (package.SeekToEnd() && package.Tell() == size && package.Seek(0) &&
      RoomFor(m_programDir, size)) {
    signing::PackageHasher hasher;
    const auto seen = [&hasher](const std::uint8_t* data, std::size_t n) { hasher.Add(data, n); };
    if (platform::CopyToNewFile(package, copy, seen)) {
      m_packageDigest = hasher.Finish();
      return true;
    }
    failed.systemError = platform::LastSystemError();
  }
  Fail(std::move(failed));
  return false;
}

bool UpdateRun::CheckPackage(const std::string& packagePath) {
  if (!SignedBuild()) return true;
  RunFailure refused{RunStep::kSignature, FailureKind::kSignatureRefused};
  if (!m_release) {
    refused.signature = signing::SIGNATURE_MALFORMED;
  } else if (!m_packageDigest) {
    refused.signature = signing::VerifyRelease(*m_release, packagePath);
  } else {
    const std::optional<platform::FileStatus> status = platform::GetFileStatus(packagePath);
    refused.signature =
        signing::VerifyReleaseDigest(*m_release, status ? status->size : -1, *m_packageDigest);
  }
  m_packageDigest.reset();
  if (refused.signature == signing::SIGNATURE_OK) {
    m_log.Write("signature: holds for the package");
    return true;
  }
  Fail(std::move(refused));
  return false;
}

void UpdateRun::RemoveDownload(const std::string& packagePath) {
  for (const std::string& path : {packagePath, packagePath + signing::kSignatureSuffix}) {
    platform::DeleteFile(path);
    platform::DeleteFile(TemporaryOf(path));
    platform::DeleteFile(http::PartialRecordPath(TemporaryOf(path)));
  }
}

}  // namespace app
