#pragma once

#include <chrono>
#include <memory>
#include <string>

namespace kestrel::platform {

// An exclusive lock on a file, held until destroyed. The system drops it when the process
// ends, however it ends, so a run that died never leaves a lock behind that blocks the next.
class FileLock {
public:
	virtual ~FileLock() = default;
};

// Creates `path` if needed and locks it, trying again until `patience` has passed while
// another process (or another lock in this one) holds it. Null on failure, with `error` set;
// `busy` tells that the file was held rather than that it could not be opened.
std::unique_ptr<FileLock> lockFile(const std::string &path, std::chrono::milliseconds patience,
				   std::string &error, bool &busy);

} // namespace kestrel::platform
