#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace kestrel::fuzz {

// libFuzzer reports a crash for an abort, so a broken promise shows up like any other fault.
inline void require(bool condition, const char *what)
{
	if (!condition) {
		std::fprintf(stderr, "broken promise: %s\n", what);
		std::abort();
	}
}

// One file of this process's own, rewritten for each input of the readers that take a path.
inline const std::string &scratchFile()
{
	static const std::string path = [] {
		char name[] = "/tmp/kestrel-fuzz-XXXXXX";
		const int fd = mkstemp(name);
		require(fd >= 0, "a scratch file");
		close(fd);
		std::atexit([] { unlink(scratchFile().c_str()); });
		return std::string(name);
	}();
	return path;
}

inline void writeScratch(const std::string &bytes)
{
	std::FILE *file = std::fopen(scratchFile().c_str(), "wb");
	require(file != nullptr, "the scratch file opens");
	std::fwrite(bytes.data(), 1, bytes.size(), file);
	std::fclose(file);
}

} // namespace kestrel::fuzz
