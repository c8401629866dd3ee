#include <algorithm>
#include <chrono>

#include "app/command_line.h"
#include "app/public_key.h"
#include "app/update_dialog.h"
#include "app/vendor_config.h"
#include "http/partial_file.h"
#include "install/install_names.h"
#include "platform/files.h"
#include "platform/install_files.h"

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

// The signature is fetched whole with the run's own downloader (its
// settings; no resume, no progress records, at most a signature file's size).
bool UpdateDialog::FetchSignature(const std::string& packagePath) {
  m_release.reset();
  if (!SignedBuild()) return true;
  const std::string signaturePath = packagePath + signing::kSignatureSuffix;
  m_downloader.SetNotifyWindow(m_hWnd, WM_UPDATE_PROGRESS, 0);
  m_downloader.maxSize =
      static_cast<decltype(m_downloader.maxSize)>(signing::kMaxSignatureFileSize);
  m_downloader.exactSize = 0;
  const bool fetched = m_downloader.Download(signing::SignatureAddress(m_url), signaturePath, 1) ==
                       http::DOWNLOAD_OK;
  // Closing the dialog stopped the fetch on purpose: no message, no install.
  if (m_shutdown.CloseRequested()) return false;
  signing::SignatureFile signature;
  std::string text;
  if (fetched && signing::ReadSignatureFile(signaturePath, signature, text) &&
      AcceptSignature(std::move(text))) {
    return true;
  }
  RemoveDownload(packagePath);
  return false;
}

bool UpdateDialog::AcceptSignature(std::string text) {
  signing::TrustPolicy policy;
  policy.product = kProduct;
  policy.channel = kChannel;
  policy.now = std::chrono::duration_cast<std::chrono::seconds>(
                   std::chrono::system_clock::now().time_since_epoch())
                   .count();
  signing::AcceptedRelease release;
  if (!signing::ParsePublicKeys(kPublicKey, policy.keys) ||
      signing::AcceptSignature(policy, std::move(text),
                               m_programDir + install::kInstalledSignatureName,
                               release) != signing::SIGNATURE_OK) {
    return false;
  }
  m_release = std::move(release);
  return true;
}

bool UpdateDialog::BoundPackage(const std::string& packagePath) {
  const std::int64_t size = m_release ? m_release->fields.size : 0;
  m_downloader.maxSize = static_cast<decltype(m_downloader.maxSize)>(size);
  m_downloader.exactSize = size;
  if (!m_release) return true;
  // What a partial download already holds is not asked for again.
  const std::optional<platform::FileStatus> partial =
      platform::GetFileStatus(TemporaryOf(packagePath));
  return RoomFor(DirectoryOf(packagePath), size - std::min(size, partial ? partial->size : 0));
}

bool UpdateDialog::TakeLocalPackage(const std::string& archivePath, const std::string& copy) {
  platform::File package = platform::File::Open(archivePath, platform::OpenMode::kReadNoLink);
  platform::File signature = platform::File::Open(archivePath + signing::kSignatureSuffix,
                                                  platform::OpenMode::kReadNoLink);
  std::string text;
  if (!package.IsOpen() || !signing::ReadSignatureText(signature, text) ||
      !AcceptSignature(std::move(text))) {
    return false;
  }
  const std::int64_t size = m_release->fields.size;
  platform::DeleteFile(copy);  // left by a run that ended before it could remove it
  return package.SeekToEnd() && package.Tell() == size && package.Seek(0) &&
         RoomFor(m_programDir, size) && platform::CopyToNewFile(package, copy);
}

bool UpdateDialog::CheckPackage(const std::string& packagePath) {
  if (!SignedBuild()) return true;
  return m_release && signing::VerifyRelease(*m_release, packagePath) == signing::SIGNATURE_OK;
}

void UpdateDialog::RemoveDownload(const std::string& packagePath) {
  for (const std::string& path : {packagePath, packagePath + signing::kSignatureSuffix}) {
    platform::DeleteFile(path);
    platform::DeleteFile(TemporaryOf(path));
    platform::DeleteFile(http::PartialRecordPath(TemporaryOf(path)));
  }
}

}  // namespace app
