// Decryption with the traditional PKWARE stream cipher of the zip format.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace archive {

inline constexpr std::size_t kEncryptionHeaderSize = 12;

class TraditionalCipher {
 public:
  // Keys initialised and then updated with each byte of `password`.
  explicit TraditionalCipher(std::string_view password);

  // Decrypts `size` bytes in place.
  void Decrypt(std::uint8_t* data, std::size_t size);

 private:
  void UpdateKeys(std::uint8_t plain);

  std::uint32_t key0_;
  std::uint32_t key1_;
  std::uint32_t key2_;
};

// Whether the decrypted 12-byte encryption header ends in the check byte: the
// high byte of the item's CRC-32, or with a data descriptor (general-purpose
// flag bit 3) the high byte of the 16-bit DOS time.
bool EncryptionHeaderMatches(const std::uint8_t (&header)[kEncryptionHeaderSize],
                             std::uint32_t crc32, std::uint32_t dosDateTime, bool hasDescriptor);

}  // namespace archive
