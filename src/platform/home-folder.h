#pragma once

#include <string>

namespace kestrel::platform {

// The current user's profile folder (Windows: USERPROFILE; elsewhere: HOME), UTF-8; empty when
// it is not set.
std::string homeFolder();

} // namespace kestrel::platform
