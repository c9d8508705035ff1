#pragma once

#include <chrono>
#include <memory>
#include <string>

namespace kestrel {

// Holds the lock file `lockPath` for one run, waiting up to `patience` for another run to let
// go. Null when it cannot, with `error` naming `what` is busy, or why the lock failed.
std::shared_ptr<void> holdRun(const std::string &lockPath, const std::string &what,
			      std::chrono::milliseconds patience, std::string &error);

} // namespace kestrel
