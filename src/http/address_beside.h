// Where a file published beside another is found: the other's address with a
// suffix after its path, before any query or fragment, so that
// ".../update.zip?token=x" has its signature at ".../update.zip.minisig?token=x".
#pragma once

#include <algorithm>
#include <string>
#include <string_view>

namespace http {

inline std::string AddressBeside(std::string address, std::string_view suffix) {
  return address.insert(std::min(address.find_first_of("?#"), address.size()), suffix);
}

}  // namespace http
