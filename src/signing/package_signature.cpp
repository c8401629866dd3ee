#include "signing/package_signature.h"

#include <sodium.h>

#include <array>
#include <vector>

#include "platform/files.h"

namespace signing {
namespace {

static_assert(crypto_sign_PUBLICKEYBYTES == kPublicKeySize);
static_assert(crypto_sign_BYTES == kSignatureSize);

bool HashFile(const std::string& path, PackageDigest& digest) {
  platform::File file = platform::File::Open(path, platform::OpenMode::kRead);
  if (!file.IsOpen()) return false;
  PackageHasher hasher;
  std::vector<std::uint8_t> block(256 * 1024);
  for (;;) {
    const std::int64_t n = file.Read(block.data(), block.size());
    if (n < 0) return false;
    if (n == 0) break;
    hasher.Add(block.data(), static_cast<std::size_t>(n));
  }
  digest = hasher.Finish();
  return true;
}

// What refuses a signature before any package is looked at: SIGNATURE_OK
// when it is of the one accepted kind and made with `key`.
SignatureResult KindAndKey(const PublicKey& key, const SignatureFile& signature) {
  if (sodium_init() < 0) return SIGNATURE_INVALID;
  if (signature.algorithm != kHashedAlgorithm) return SIGNATURE_UNSUPPORTED;
  if (signature.keyId != key.keyId) return SIGNATURE_OTHER_KEY;
  return SIGNATURE_OK;
}

bool Holds(const Signature& signature, const std::uint8_t* message, std::size_t size,
           const PublicKey& key) {
  return crypto_sign_verify_detached(signature.data(), message, size, key.key.data()) == 0;
}

}  // namespace

bool TrustedCommentHolds(const PublicKey& key, const SignatureFile& signature) {
  if (sodium_init() < 0 || signature.keyId != key.keyId) return false;
  std::vector<std::uint8_t> message(signature.signature.begin(), signature.signature.end());
  message.insert(message.end(), signature.trustedComment.begin(), signature.trustedComment.end());
  return Holds(signature.commentSignature, message.data(), message.size(), key);
}

SignatureResult VerifyPackage(const PublicKey& key, const std::string& packagePath,
                              const SignatureFile& signature) {
  // A refused signature costs no pass over the package.
  if (const SignatureResult refused = KindAndKey(key, signature); refused != SIGNATURE_OK) {
    return refused;
  }
  PackageDigest digest{};
  if (!HashFile(packagePath, digest)) return SIGNATURE_PACKAGE_UNREADABLE;
  return VerifyPackageDigest(key, digest, signature);
}

SignatureResult VerifyPackageDigest(const PublicKey& key, const PackageDigest& digest,
                                    const SignatureFile& signature) {
  if (const SignatureResult refused = KindAndKey(key, signature); refused != SIGNATURE_OK) {
    return refused;
  }
  if (!Holds(signature.signature, digest.data(), digest.size(), key)) return SIGNATURE_INVALID;
  if (!TrustedCommentHolds(key, signature)) return SIGNATURE_COMMENT_INVALID;
  return SIGNATURE_OK;
}

}  // namespace signing
