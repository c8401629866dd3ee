// The minisign texts on any bytes: the input is read as a signature file, as
// a public key and as a trusted comment. Checks: whatever is accepted writes
// back to the very lines it was read from (canonical base64, nothing lost or
// invented), a signature file is never larger than the limit, a trusted
// comment holds no line end, and a timestamp is never negative or beyond 18
// digits. The accepted parts then go through the comment check, which must
// not hold under a key that signed nothing.
#include <sodium.h>

#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "signing/package_signature.h"
#include "signing/signature_text.h"

namespace {

std::string Base64Of(const std::vector<std::uint8_t>& bytes) {
  std::string out(sodium_base64_ENCODED_LEN(bytes.size(), sodium_base64_VARIANT_ORIGINAL), '\0');
  sodium_bin2base64(out.data(), out.size(), bytes.data(), bytes.size(),
                    sodium_base64_VARIANT_ORIGINAL);
  out.resize(out.size() - 1);  // the terminating NUL
  return out;
}

template <typename... Parts>
std::vector<std::uint8_t> Joined(const Parts&... parts) {
  std::vector<std::uint8_t> out;
  (out.insert(out.end(), std::begin(parts), std::end(parts)), ...);
  return out;
}

bool Contains(std::string_view text, const std::string& part) {
  return text.find(part) != std::string_view::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text = fuzz::AsText(data, size);

  signing::SignatureFile signature;
  if (signing::ParseSignatureFile(text, signature)) {
    FUZZ_CHECK(size <= signing::kMaxSignatureFileSize);
    FUZZ_CHECK(text.starts_with("untrusted comment: "));
    FUZZ_CHECK(signature.trustedComment.find('\n') == std::string::npos);
    const std::vector<std::uint8_t> algorithm(signature.algorithm.begin(),
                                              signature.algorithm.end());
    FUZZ_CHECK(
        Contains(text, "\n" + Base64Of(Joined(algorithm, signature.keyId, signature.signature))));
    FUZZ_CHECK(Contains(text, "\ntrusted comment: " + signature.trustedComment));
    FUZZ_CHECK(Contains(text, "\n" + Base64Of(Joined(signature.commentSignature))));

    // A key that signed nothing, with the signature's own key id.
    signing::PublicKey stranger;
    stranger.keyId = signature.keyId;
    stranger.key.fill(0x5A);
    FUZZ_CHECK(!signing::TrustedCommentHolds(stranger, signature));
  }

  signing::PublicKey key;
  if (signing::ParsePublicKey(text, key)) {
    const std::string line = Base64Of(Joined(std::string_view("Ed"), key.keyId, key.key));
    FUZZ_CHECK(Contains(text, line));
    FUZZ_CHECK(text.find_first_not_of(" \t\r\n") == text.find(line));
  }

  const std::int64_t seconds = signing::TrustedTimestamp(text);
  FUZZ_CHECK(seconds >= 0 && seconds < 1000000000000000000LL);
  return 0;
}
