#include "signing/signature_text.h"

#include <sodium.h>

#include <algorithm>

namespace signing {
namespace {

constexpr std::string_view kUntrustedPrefix = "untrusted comment: ";
constexpr std::string_view kTrustedPrefix = "trusted comment: ";
constexpr std::string_view kTimestampPrefix = "timestamp:";

// Decodes standard base64 (with padding, nothing else in the text) into
// exactly `out.size()` bytes. Bytes outside the alphabet are refused here:
// libsodium 1.0.18 decodes some of them (bytes above 0x7F) as if they were
// base64 digits.
template <std::size_t N>
bool DecodeExactly(std::string_view text, std::array<std::uint8_t, N>& out) {
  constexpr std::string_view kAlphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=";
  if (text.find_first_not_of(kAlphabet) != std::string_view::npos) return false;
  std::size_t length = 0;
  return sodium_base642bin(out.data(), out.size(), text.data(), text.size(), nullptr, &length,
                           nullptr, sodium_base64_VARIANT_ORIGINAL) == 0 &&
         length == out.size();
}

// 1 to 18 decimal digits, so the value always fits; 0 for anything else.
std::int64_t SecondsOf(std::string_view digits) {
  if (digits.empty() || digits.size() > 18) return 0;
  std::int64_t value = 0;
  for (const char c : digits) {
    if (c < '0' || c > '9') return 0;
    value = value * 10 + (c - '0');
  }
  return value;
}

std::string_view TrimBlanks(std::string_view text) {
  constexpr std::string_view kBlanks = " \t\r\n";
  const std::size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

// Takes the next line off `text`, without its LF and a CR before it. False
// when `text` is empty.
bool TakeLine(std::string_view& text, std::string_view& line) {
  if (text.empty()) return false;
  const std::size_t end = text.find('\n');
  line = text.substr(0, end);
  text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return true;
}

}  // namespace

bool ParsePublicKey(std::string_view text, PublicKey& key) {
  std::array<std::uint8_t, 2 + kKeyIdSize + kPublicKeySize> raw{};
  if (!DecodeExactly(TrimBlanks(text), raw)) return false;
  if (raw[0] != 'E' || raw[1] != 'd') return false;
  std::copy(raw.begin() + 2, raw.begin() + 2 + kKeyIdSize, key.keyId.begin());
  std::copy(raw.begin() + 2 + kKeyIdSize, raw.end(), key.key.begin());
  return true;
}

bool ParseSignatureFile(std::string_view text, SignatureFile& signature) {
  if (text.size() > kMaxSignatureFileSize) return false;
  std::string_view untrusted, encoded, trusted, encodedComment;
  if (!TakeLine(text, untrusted) || !TakeLine(text, encoded) || !TakeLine(text, trusted) ||
      !TakeLine(text, encodedComment) || !text.empty()) {
    return false;
  }
  if (!untrusted.starts_with(kUntrustedPrefix) || !trusted.starts_with(kTrustedPrefix)) {
    return false;
  }
  std::array<std::uint8_t, 2 + kKeyIdSize + kSignatureSize> raw{};
  if (!DecodeExactly(encoded, raw)) return false;
  if (!DecodeExactly(encodedComment, signature.commentSignature)) return false;
  signature.algorithm = {static_cast<char>(raw[0]), static_cast<char>(raw[1])};
  std::copy(raw.begin() + 2, raw.begin() + 2 + kKeyIdSize, signature.keyId.begin());
  std::copy(raw.begin() + 2 + kKeyIdSize, raw.end(), signature.signature.begin());
  signature.trustedComment = std::string(trusted.substr(kTrustedPrefix.size()));
  return true;
}

std::int64_t TrustedTimestamp(std::string_view trustedComment) {
  std::size_t start = 0;
  for (;;) {
    const std::size_t tab = trustedComment.find('\t', start);
    const std::string_view field =
        trustedComment.substr(start, tab == std::string_view::npos ? tab : tab - start);
    if (field.starts_with(kTimestampPrefix))
      return SecondsOf(field.substr(kTimestampPrefix.size()));
    if (tab == std::string_view::npos) return 0;
    start = tab + 1;
  }
}

}  // namespace signing
