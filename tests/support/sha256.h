// SHA-256 (FIPS 180-4) of bytes or of a file, as lower-case hex, to compare a
// download with its source.
#pragma once

#include <string>
#include <string_view>

namespace testsupport {

std::string Sha256Hex(std::string_view bytes);
// "" when the file cannot be read.
std::string Sha256OfFile(const std::string& path);

}  // namespace testsupport
