#include "signing/release_acceptance.h"

#include <utility>

#include "platform/files.h"
#include "platform/install_files.h"

namespace signing {

bool KeepReleaseSignature(const std::string& text, const std::string& installedPath) {
  const std::string fresh = installedPath + ".new";
  bool written = false;
  {
    // A copy left by a run that ended before its replace goes first.
    platform::DeleteFile(fresh);
    platform::File file = platform::CreateNewFile(fresh, 0, 0);
    written = file.IsOpen() && file.Write(text.data(), text.size()) && file.Flush();
  }
  if (written && platform::ReplaceFile(fresh, installedPath)) return true;
  platform::DeleteFile(fresh);
  return false;
}

bool ReadSignatureFile(const std::string& path, SignatureFile& signature, std::string& text) {
  text.clear();
  platform::File file = platform::File::Open(path, platform::OpenMode::kRead);
  if (!file.IsOpen()) return false;
  // One byte more than allowed tells a file that is too large.
  text.resize(kMaxSignatureFileSize + 1);
  std::size_t size = 0;
  while (size < text.size()) {
    const std::int64_t n = file.Read(text.data() + size, text.size() - size);
    if (n < 0) return false;
    if (n == 0) break;
    size += static_cast<std::size_t>(n);
  }
  text.resize(size);
  return ParseSignatureFile(text, signature);
}

std::int64_t InstalledRelease(const PublicKey& key, const std::string& installedPath) {
  SignatureFile installed;
  std::string text;
  if (!ReadSignatureFile(installedPath, installed, text)) return 0;
  // A kept signature that no longer holds (another vendor key, a damaged
  // file) proves nothing about the installed release.
  if (!TrustedCommentHolds(key, installed)) return 0;
  return TrustedTimestamp(installed.trustedComment);
}

SignatureResult AcceptRelease(const PublicKey& key, const std::string& packagePath,
                              const std::string& signaturePath, const std::string& installedPath,
                              std::string& accepted) {
  accepted.clear();
  SignatureFile signature;
  std::string text;
  if (!ReadSignatureFile(signaturePath, signature, text)) return SIGNATURE_MALFORMED;
  const SignatureResult verified = VerifyPackage(key, packagePath, signature);
  if (verified != SIGNATURE_OK) return verified;
  if (TrustedTimestamp(signature.trustedComment) < InstalledRelease(key, installedPath)) {
    return SIGNATURE_OLDER_RELEASE;
  }
  accepted = std::move(text);
  return SIGNATURE_OK;
}

}  // namespace signing
