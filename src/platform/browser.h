#pragma once

#include <string>

namespace kestrel::platform {

// Opens `url` in the user's default web browser without waiting for it; false when no browser
// could be started. The URL is passed as one argument, never through a shell.
bool openInBrowser(const std::string &url);

} // namespace kestrel::platform
