#pragma once

#include <string>

namespace kestrel::platform {

// The outermost folder above `path` (UTF-8, absolute) that the system itself marks as hidden or
// as its own (Windows: the hidden or system attribute), the drive or root not counted; empty
// when there is none. Elsewhere hidden folders are marked by their names alone, which the
// callers look at themselves.
std::string markedHiddenFolderAbove(const std::string &path);

} // namespace kestrel::platform
