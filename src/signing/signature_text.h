// The texts of minisign: the vendor's public key (the base64 line of the key
// file that `minisign -G` writes) and a signature file (`FILE.minisig`).
// Parsing only: whether a signature holds is package_signature.h's question.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace signing {

inline constexpr std::size_t kKeyIdSize = 8;
inline constexpr std::size_t kPublicKeySize = 32;  // Ed25519
inline constexpr std::size_t kSignatureSize = 64;  // Ed25519
// A signature file is four short lines; anything larger is not read at all.
inline constexpr std::size_t kMaxSignatureFileSize = 64 * 1024;

using KeyId = std::array<std::uint8_t, kKeyIdSize>;
using Signature = std::array<std::uint8_t, kSignatureSize>;

struct PublicKey {
  KeyId keyId{};
  std::array<std::uint8_t, kPublicKeySize> key{};
};

struct SignatureFile {
  // "ED": Ed25519 over the BLAKE2b-512 hash of the file; "Ed": over the file
  // itself (minisign's legacy form); any other pair as it was read.
  std::array<char, 2> algorithm{};
  KeyId keyId{};
  Signature signature{};
  std::string trustedComment;    // the text after "trusted comment: "
  Signature commentSignature{};  // over `signature` followed by `trustedComment`
};

// The base64 line alone, blanks and line ends around it allowed: 42 bytes,
// "Ed", the key id and the key.
bool ParsePublicKey(std::string_view text, PublicKey& key);

// Several keys separated by ";" (blanks around each allowed), as a vendor
// ships the next key before it signs with it. False when there is none or
// one of them is not a key.
bool ParsePublicKeys(std::string_view text, std::vector<PublicKey>& keys);

// Exactly four lines (LF or CR LF, the last one's end optional): an untrusted
// comment, the signature in base64 (74 bytes), the trusted comment, and the
// comment's signature in base64 (64 bytes). False for anything else,
// including a text larger than kMaxSignatureFileSize.
bool ParseSignatureFile(std::string_view text, SignatureFile& signature);

// A key id as minisign shows it in its key files' comments: the bytes as a
// little-endian 64-bit number, in 16 upper-case hex digits.
std::string KeyIdText(const KeyId& id);

// The release time that the trusted comment carries as a tab-separated field
// "timestamp:SECONDS" (minisign writes it first). 0 when there is no such
// field or its value is not a number of at most 18 digits.
std::int64_t TrustedTimestamp(std::string_view trustedComment);

// What a signature says it is for: the fields of its trusted comment, which
// is a tab-separated list of "name:value" fields.
struct ReleaseFields {
  std::int64_t timestamp = 0;  // when the release was signed, seconds since 1970
  std::string product;
  std::string channel;
  std::int64_t size = 0;  // bytes of the package
};

// Nothing unless each of "timestamp", "product", "channel" and "size" stands
// exactly once with a value: a number of 1 to 18 digits for the timestamp, of
// 1 to 18 digits above 0 for the size. Other fields ("file", "hashed") are
// ignored.
std::optional<ReleaseFields> ParseReleaseFields(std::string_view trustedComment);

}  // namespace signing
