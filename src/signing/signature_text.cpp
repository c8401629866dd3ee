#include "signing/signature_text.h"

#include <sodium.h>

#include <algorithm>
#include <charconv>

namespace signing {
namespace {

constexpr std::string_view kUntrustedPrefix = "untrusted comment: ";
constexpr std::string_view kTrustedPrefix = "trusted comment: ";
constexpr char kFieldSeparator = '\t';
constexpr char kKeySeparator = ';';

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

// 1 to 18 decimal digits, so the value always fits; nothing for anything
// else (a sign included).
std::optional<std::int64_t> NumberOf(std::string_view digits) {
  if (digits.empty() || digits.size() > 18 || digits[0] < '0' || digits[0] > '9') return {};
  std::int64_t value = 0;
  const char* const end = digits.data() + digits.size();
  if (std::from_chars(digits.data(), end, value).ptr != end) return {};
  return value;
}

// The pieces of `text` between `separator`s; an empty text is one empty piece.
std::vector<std::string_view> Split(std::string_view text, char separator) {
  std::vector<std::string_view> pieces;
  for (;;) {
    const std::size_t end = text.find(separator);
    pieces.push_back(text.substr(0, end));
    if (end == std::string_view::npos) return pieces;
    text.remove_prefix(end + 1);
  }
}

// Calls `visit(name, value)` for each "name:value" field of a trusted
// comment, in order; a field without a colon ("hashed") is passed over.
template <typename Visit>
void ForEachField(std::string_view comment, Visit visit) {
  for (const std::string_view field : Split(comment, kFieldSeparator)) {
    const std::size_t colon = field.find(':');
    if (colon != std::string_view::npos) visit(field.substr(0, colon), field.substr(colon + 1));
  }
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

bool ParsePublicKeys(std::string_view text, std::vector<PublicKey>& keys) {
  keys.clear();
  for (const std::string_view piece : Split(text, kKeySeparator)) {
    if (!ParsePublicKey(piece, keys.emplace_back())) return false;
  }
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

std::string KeyIdText(const KeyId& id) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (std::size_t i = id.size(); i-- > 0;) {
    text += kDigits[id[i] >> 4];
    text += kDigits[id[i] & 0xF];
  }
  return text;
}

std::int64_t TrustedTimestamp(std::string_view trustedComment) {
  std::optional<std::string_view> value;
  ForEachField(trustedComment, [&value](std::string_view name, std::string_view text) {
    if (name == "timestamp" && !value) value = text;
  });
  return value ? NumberOf(*value).value_or(0) : 0;
}

std::optional<ReleaseFields> ParseReleaseFields(std::string_view trustedComment) {
  std::optional<std::string_view> timestamp, product, channel, size;
  bool twice = false;
  ForEachField(trustedComment, [&](std::string_view name, std::string_view text) {
    std::optional<std::string_view>* const value = name == "timestamp" ? &timestamp
                                                   : name == "product" ? &product
                                                   : name == "channel" ? &channel
                                                   : name == "size"    ? &size
                                                                       : nullptr;
    if (value == nullptr) return;
    twice = twice || value->has_value();
    *value = text;
  });
  if (twice || !timestamp || !product || !channel || !size || product->empty() ||
      channel->empty()) {
    return std::nullopt;
  }
  const std::optional<std::int64_t> seconds = NumberOf(*timestamp);
  const std::optional<std::int64_t> bytes = NumberOf(*size);
  if (!seconds || !bytes || *bytes == 0) return std::nullopt;
  return ReleaseFields{*seconds, std::string(*product), std::string(*channel), *bytes};
}

}  // namespace signing
