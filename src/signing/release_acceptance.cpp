#include "signing/release_acceptance.h"

#include <algorithm>
#include <utility>

namespace signing {
namespace {

bool SameSignature(const SignatureFile& a, const SignatureFile& b) {
  return a.algorithm == b.algorithm && a.keyId == b.keyId && a.signature == b.signature &&
         a.trustedComment == b.trustedComment && a.commentSignature == b.commentSignature;
}

}  // namespace

bool ReadSignatureText(platform::File& file, std::string& text) {
  text.clear();
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
  return size <= kMaxSignatureFileSize;
}

bool ReadSignatureFile(const std::string& path, SignatureFile& signature, std::string& text) {
  platform::File file = platform::File::Open(path, platform::OpenMode::kRead);
  return ReadSignatureText(file, text) && ParseSignatureFile(text, signature);
}

SignatureResult AcceptSignature(const TrustPolicy& policy, std::string text,
                                const std::string& installedPath, AcceptedRelease& accepted) {
  accepted = AcceptedRelease();
  SignatureFile signature;
  if (!ParseSignatureFile(text, signature)) return SIGNATURE_MALFORMED;
  if (signature.algorithm != kHashedAlgorithm) return SIGNATURE_UNSUPPORTED;
  const auto key = std::find_if(policy.keys.begin(), policy.keys.end(),
                                [&](const PublicKey& k) { return k.keyId == signature.keyId; });
  if (key == policy.keys.end()) return SIGNATURE_OTHER_KEY;
  if (!TrustedCommentHolds(*key, signature)) return SIGNATURE_COMMENT_INVALID;
  const std::optional<ReleaseFields> fields = ParseReleaseFields(signature.trustedComment);
  if (!fields || fields->product != policy.product || fields->channel != policy.channel) {
    return SIGNATURE_OTHER_RELEASE;
  }
  if (fields->timestamp > policy.now + kMaxClockLead) return SIGNATURE_FUTURE_RELEASE;
  // The kept signature was accepted when its release was installed; it is
  // not judged again, so that a key the build no longer has keeps its floor.
  SignatureFile kept;
  std::string keptText;
  const bool hasKept = ReadSignatureFile(installedPath, kept, keptText);
  const std::int64_t floor = hasKept ? TrustedTimestamp(kept.trustedComment) : 0;
  if (fields->timestamp < floor ||
      (hasKept && fields->timestamp == floor && !SameSignature(signature, kept))) {
    return SIGNATURE_OLDER_RELEASE;
  }
  accepted = AcceptedRelease{*key, std::move(signature), *fields, std::move(text)};
  return SIGNATURE_OK;
}

SignatureResult VerifyRelease(const AcceptedRelease& release, const std::string& packagePath) {
  const std::optional<platform::FileStatus> status = platform::GetFileStatus(packagePath);
  if (!status) return SIGNATURE_PACKAGE_UNREADABLE;
  if (status->size != release.fields.size) return SIGNATURE_SIZE_DIFFERS;
  return VerifyPackage(release.key, packagePath, release.signature);
}

SignatureResult VerifyReleaseDigest(const AcceptedRelease& release, std::int64_t size,
                                    const PackageDigest& digest) {
  if (size != release.fields.size) return SIGNATURE_SIZE_DIFFERS;
  return VerifyPackageDigest(release.key, digest, release.signature);
}

}  // namespace signing
