// Whether a release may be installed over the current one. Its signature is
// judged before its package is fetched: it must hold under one of the
// build's keys and say that it is a release of the build's product and
// channel, not signed ahead of the machine's clock, and not older than the
// release installed last. The package is then taken only at the size the
// signature names, and only when the signature holds for its bytes.
//
// The installed release's signature is kept in the program directory; its
// timestamp is the floor, whichever key signed it, so that a key change
// never lowers it. Comparing signed timestamps keeps anyone who can change
// the traffic from installing an older, correctly signed release with known
// faults.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/files.h"
#include "signing/package_signature.h"

namespace signing {

// A release may be signed at most this far ahead of the machine's clock: a
// timestamp further on would, as the floor, refuse every later release.
inline constexpr std::int64_t kMaxClockLead = 24 * 60 * 60;

// What a build trusts.
struct TrustPolicy {
  std::vector<PublicKey> keys;  // any of them may sign
  std::string product;
  std::string channel;
  std::int64_t now = 0;  // the machine's clock, seconds since 1970
};

// A signature that the policy accepted, and what it stands for.
struct AcceptedRelease {
  PublicKey key;  // the one that made it
  SignatureFile signature;
  ReleaseFields fields;
  std::string text;  // the signature file, to be kept once the package is installed
};

// A package's signature file: the package's path plus this.
inline constexpr char kSignatureSuffix[] = ".minisig";

// Reads a signature file's text from `file`: false when it cannot be read or
// is larger than kMaxSignatureFileSize.
bool ReadSignatureText(platform::File& file, std::string& text);

// Reads and parses the signature file at `path`. False when it is missing,
// larger than kMaxSignatureFileSize, or not a signature file; `text` holds
// the bytes read.
bool ReadSignatureFile(const std::string& path, SignatureFile& signature, std::string& text);

// Judges the signature file `text` under `policy` against the installed
// release's signature kept at `installedPath`: a release signed at the
// floor's very time is accepted only with the very signature kept (the same
// release again). Nothing is written.
SignatureResult AcceptSignature(const TrustPolicy& policy, std::string text,
                                const std::string& installedPath, AcceptedRelease& accepted);

// Whether the package at `packagePath` is the one `release` was signed for:
// of the size it names, and the signature holds for its bytes.
SignatureResult VerifyRelease(const AcceptedRelease& release, const std::string& packagePath);
// The same for a package of `size` bytes whose digest was taken as its bytes
// passed.
SignatureResult VerifyReleaseDigest(const AcceptedRelease& release, std::int64_t size,
                                    const PackageDigest& digest);

}  // namespace signing
