// The engine's time-out settings are signed; the transport takes unsigned
// milliseconds. A negative setting means no wait at all.
#pragma once

#include <algorithm>
#include <cstdint>

namespace http {

inline std::uint32_t Milliseconds(std::int32_t value) {
  return static_cast<std::uint32_t>(std::max<std::int32_t>(0, value));
}

}  // namespace http
