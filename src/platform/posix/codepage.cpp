#include <langinfo.h>

#include <cstring>
#include <strings.h>

#include "platform/text.h"

namespace platform {

// The code page of the process's locale (InitProcess adopts the environment's
// LC_CTYPE). GBK and its supersets have double-byte characters; UTF-8 and the
// single-byte sets can be searched byte by byte.
CodePage ActiveCodePage() {
  const char* codeset = nl_langinfo(CODESET);
  if (codeset != nullptr && (strcasecmp(codeset, "GBK") == 0 || strcasecmp(codeset, "GB18030") == 0 ||
                             strcasecmp(codeset, "GB2312") == 0 || strcasecmp(codeset, "CP936") == 0)) {
    return CodePage::kGbk;
  }
  return CodePage::kSingleByteOrUtf8;
}

}  // namespace platform
