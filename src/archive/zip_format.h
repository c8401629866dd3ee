// Constants of the zip format that more than one part of the facade reads.
#pragma once

namespace archive {

// Compression methods the facade extracts.
inline constexpr int kStored = 0;
inline constexpr int kDeflated = 8;

// Archive paths separate their parts with either slash.
inline constexpr bool IsSeparator(char c) { return c == '/' || c == '\\'; }

}  // namespace archive
