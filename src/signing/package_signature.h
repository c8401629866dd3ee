// Does a minisign signature hold for a package under the vendor's key? One
// question per call, fixed-size keys and signatures, libsodium's Ed25519 and
// BLAKE2b; nothing is left for the caller to choose.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "signing/package_hasher.h"
#include "signing/signature_text.h"

namespace signing {

enum SignatureResult {
  SIGNATURE_OK = 0,
  SIGNATURE_MALFORMED = 1,        // missing, cut short, too large, not a signature file
  SIGNATURE_UNSUPPORTED = 2,      // not "ED": the legacy "Ed" form or an unknown one
  SIGNATURE_OTHER_KEY = 3,        // made with a key other than the vendor's
  SIGNATURE_INVALID = 4,          // the package's signature does not hold
  SIGNATURE_COMMENT_INVALID = 5,  // the trusted comment's signature does not hold
  SIGNATURE_PACKAGE_UNREADABLE = 6,
  // Holds, but for a release older than the installed one, or as old and
  // not the very signature kept for it.
  SIGNATURE_OLDER_RELEASE = 7,
  // Holds, but not for this product and channel, or says not what it is for.
  SIGNATURE_OTHER_RELEASE = 8,
  SIGNATURE_FUTURE_RELEASE = 9,  // signed too far ahead of the machine's clock
  SIGNATURE_SIZE_DIFFERS = 10,   // the package is not of the size the signature names
};

// "ED": Ed25519 over the BLAKE2b-512 hash of the file, the only kind accepted.
inline constexpr std::array<char, 2> kHashedAlgorithm{'E', 'D'};

// Checks, in this order: the algorithm is "ED", the key id is the key's, the
// signature holds for the BLAKE2b-512 hash of the whole file at
// `packagePath`, and the trusted comment's signature holds.
SignatureResult VerifyPackage(const PublicKey& key, const std::string& packagePath,
                              const SignatureFile& signature);
// The same for a package whose digest was taken as its bytes passed.
SignatureResult VerifyPackageDigest(const PublicKey& key, const PackageDigest& digest,
                                    const SignatureFile& signature);

// Only the trusted comment's signature (and the key id): enough to trust the
// comment of a signature whose package is no longer at hand.
bool TrustedCommentHolds(const PublicKey& key, const SignatureFile& signature);

}  // namespace signing
