// The two messages the user can see, and the download page they offer.
#pragma once

#include <string>

namespace app {

enum class FailureMessage { kNoArgument = 1, kDownloadFailed = 2 };

inline constexpr char kMessageCaption[] = "提示";

std::string MessageText(FailureMessage which);

// The vendor's download page.
std::string DownloadPageUrl();

}  // namespace app
