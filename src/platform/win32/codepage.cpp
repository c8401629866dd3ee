#include "platform/text.h"
#include "platform/win32/windows_api.h"

namespace platform {

// Texts and paths are in the system's ANSI code page; 936 (simplified
// Chinese, GBK) has double-byte characters whose trail byte may be 0x5C.
CodePage ActiveCodePage() { return GetACP() == 936 ? CodePage::kGbk : CodePage::kSingleByteOrUtf8; }

}  // namespace platform
