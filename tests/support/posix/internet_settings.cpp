#include "support/internet_settings.h"

namespace testsupport {

InternetSettings::InternetSettings(unsigned, const std::string&, const std::string&,
                                   const std::string&) {}

InternetSettings::~InternetSettings() = default;

bool InternetSettings::Supported() { return false; }

}  // namespace testsupport
