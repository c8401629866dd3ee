// Whether a package may be installed over the current release: its signature
// holds under the vendor's key, and its release is not older than the one
// installed last, whose signature file is kept in the program directory.
// Comparing signed timestamps keeps anyone who can change the traffic from
// installing an older, correctly signed release with known faults.
#pragma once

#include <string>

#include "signing/package_signature.h"

namespace signing {

// Reads and parses the signature file at `path`. False when it is missing,
// larger than kMaxSignatureFileSize, or not a signature file; `text` holds
// the bytes read.
bool ReadSignatureFile(const std::string& path, SignatureFile& signature, std::string& text);

// The release the kept signature at `installedPath` stands for: its trusted
// timestamp, or 0 when it is missing or its comment does not hold under `key`.
std::int64_t InstalledRelease(const PublicKey& key, const std::string& installedPath);

// Verifies the package at `packagePath` with the signature file at
// `signaturePath` and compares its timestamp with the installed release's
// kept at `installedPath`; an equal timestamp is the same release and
// accepted. On SIGNATURE_OK `accepted` holds the signature file's text, to be
// kept once the package is installed. Nothing is written: a package that is
// then not installed leaves the installed release as it was.
SignatureResult AcceptRelease(const PublicKey& key, const std::string& packagePath,
                              const std::string& signaturePath, const std::string& installedPath,
                              std::string& accepted);

// Makes `text` the installed release's signature at `installedPath`: written
// beside it, then renamed over it, so that the kept one is never left half
// written. False when it could not be written.
bool KeepReleaseSignature(const std::string& text, const std::string& installedPath);

}  // namespace signing
