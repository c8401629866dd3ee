// Cleaning of stored item names, so that no relative name climbs out of the
// directory it is extracted below.
#pragma once

#include <string_view>

#include "platform/text.h"

namespace archive {

// The part of `name` that is kept: drive prefixes ("C:") and leading
// separators are skipped, everything up to and including the last dir-up
// sequence between separators ("\..\", "\../", "/../", "/..\") is dropped, and
// so are leading "../" or "..\" segments and a name that is ".." alone (also
// behind "./" segments, as in "./.."). The rules are retried from the first
// after each one that applies. Searches step over whole characters of
// `codePage`.
std::string_view CleanItemName(std::string_view name, platform::CodePage codePage);
std::string_view CleanItemName(std::string_view name);  // the active code page

}  // namespace archive
