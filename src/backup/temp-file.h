#pragma once

#include <string>

namespace kestrel {

// A file of the run's own in the temporary folder, created exclusively under a unique name
// that starts with `prefix`, and removed when it goes out of scope.
class TempFile {
public:
	TempFile(const std::string &folder, const std::string &prefix);
	~TempFile();
	TempFile(const TempFile &) = delete;
	TempFile &operator=(const TempFile &) = delete;

	// Empty when the file could not be created; error() says why.
	const std::string &path() const { return path_; }
	const std::string &error() const { return error_; }

	// Replaces the content and makes the file readable by all, as a stored file should be;
	// false (with error() set) when it cannot be written.
	bool write(const std::string &bytes);

private:
	std::string path_;
	std::string error_;
};

} // namespace kestrel
