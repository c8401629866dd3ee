#include "archive/traditional_cipher.h"

#include <zlib.h>

namespace archive {
namespace {

// One byte's step of the CRC-32 with zlib's table.
std::uint32_t CrcStep(const z_crc_t* table, std::uint32_t crc, std::uint8_t byte) {
  return static_cast<std::uint32_t>(table[(crc ^ byte) & 0xFF]) ^ (crc >> 8);
}

const z_crc_t* CrcTable() {
  static const z_crc_t* const table = get_crc_table();
  return table;
}

}  // namespace

TraditionalCipher::TraditionalCipher(std::string_view password)
    : key0_(0x12345678), key1_(0x23456789), key2_(0x34567890) {
  for (const char c : password) UpdateKeys(static_cast<std::uint8_t>(c));
}

void TraditionalCipher::UpdateKeys(std::uint8_t plain) {
  const z_crc_t* table = CrcTable();
  key0_ = CrcStep(table, key0_, plain);
  key1_ = (key1_ + (key0_ & 0xFF)) * 134775813u + 1;
  key2_ = CrcStep(table, key2_, static_cast<std::uint8_t>(key1_ >> 24));
}

void TraditionalCipher::Decrypt(std::uint8_t* data, std::size_t size) {
  const z_crc_t* table = CrcTable();
  std::uint32_t k0 = key0_, k1 = key1_, k2 = key2_;
  for (std::size_t i = 0; i < size; ++i) {
    const std::uint32_t temp = (k2 & 0xFFFF) | 2;
    const auto plain = static_cast<std::uint8_t>(data[i] ^ (((temp * (temp ^ 1)) >> 8) & 0xFF));
    data[i] = plain;
    k0 = CrcStep(table, k0, plain);
    k1 = (k1 + (k0 & 0xFF)) * 134775813u + 1;
    k2 = CrcStep(table, k2, static_cast<std::uint8_t>(k1 >> 24));
  }
  key0_ = k0;
  key1_ = k1;
  key2_ = k2;
}

bool EncryptionHeaderMatches(const std::uint8_t (&header)[kEncryptionHeaderSize],
                             std::uint32_t crc32, std::uint32_t dosDateTime, bool hasDescriptor) {
  const auto check =
      static_cast<std::uint8_t>(hasDescriptor ? (dosDateTime >> 8) & 0xFF : (crc32 >> 24) & 0xFF);
  return header[kEncryptionHeaderSize - 1] == check;
}

}  // namespace archive
