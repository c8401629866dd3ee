// The minisign texts on any bytes: the input is read as a signature file, as
// a list of public keys and as a trusted comment. The tables of signature_text_test.cpp
// pin what is accepted; here an accepted signature file writes back to the
// very lines it was read from (canonical base64, nothing lost or invented),
// and its comment check does not hold under a key that signed nothing.
#include <sodium.h>

#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "signing/package_signature.h"
#include "signing/signature_text.h"

namespace {

template <typename... Parts>
std::string Base64Of(const Parts&... parts) {
  std::vector<std::uint8_t> bytes;
  (bytes.insert(bytes.end(), std::begin(parts), std::end(parts)), ...);
  std::string out(sodium_base64_ENCODED_LEN(bytes.size(), sodium_base64_VARIANT_ORIGINAL), '\0');
  sodium_bin2base64(out.data(), out.size(), bytes.data(), bytes.size(),
                    sodium_base64_VARIANT_ORIGINAL);
  out.resize(out.size() - 1);  // the terminating NUL
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text = fuzz::AsText(data, size);
  signing::SignatureFile s;
  if (signing::ParseSignatureFile(text, s)) {
    for (const std::string& line :
         {Base64Of(s.algorithm, s.keyId, s.signature), "trusted comment: " + s.trustedComment,
          Base64Of(s.commentSignature)}) {
      FUZZ_CHECK(text.find("\n" + line) != std::string_view::npos);
    }
    signing::PublicKey stranger;
    stranger.keyId = s.keyId;
    stranger.key.fill(0x5A);
    FUZZ_CHECK(!signing::TrustedCommentHolds(stranger, s));
  }
  std::vector<signing::PublicKey> keys;
  signing::ParsePublicKeys(text, keys);
  // A release's fields stand once each: its timestamp is the floor's too.
  if (const auto fields = signing::ParseReleaseFields(text)) {
    FUZZ_CHECK(fields->timestamp == signing::TrustedTimestamp(text) && fields->size > 0 &&
               !fields->product.empty() && !fields->channel.empty());
  }
  return 0;
}
