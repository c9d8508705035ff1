#pragma once

#include <string>

namespace kestrel::platform {

// Full UTF-8 path of the shared library that contains this code (the plug-in itself when
// loaded by OBS); empty when the system cannot tell.
std::string ownLibraryPath();

} // namespace kestrel::platform
