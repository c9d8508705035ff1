#pragma once

#include <string>

namespace kestrel::platform {

// Full UTF-8 path of the shared library that contains this code (the plug-in itself when
// loaded by OBS); empty when the system cannot tell.
std::string ownLibraryPath();

// Keeps the library that contains this code mapped until the process ends, even once its
// loader unloads it, so a thread still running in it cannot jump into freed memory. False
// when the system refused.
bool keepOwnLibraryLoaded();

} // namespace kestrel::platform
