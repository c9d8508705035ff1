#pragma once

#include "loopback-http-server.h"

#include <cstdint>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

namespace kestrel::test {

// A fake service's copy of a file. Blocks of zeros take no memory, so a sparse file of several
// GB passes through a fake without swelling the process that measures the back-end's memory.
class StoredBytes {
public:
	StoredBytes() = default;
	// Implicit: a stored file stands in for its bytes.
	StoredBytes(std::string_view bytes) { append(bytes); }
	StoredBytes(const std::string &bytes) : StoredBytes(std::string_view(bytes)) {}
	StoredBytes(const char *bytes) : StoredBytes(std::string_view(bytes)) {}

	uint64_t size() const { return size_; }
	void append(std::string_view bytes);
	void truncate(uint64_t size);
	std::string read(uint64_t offset, uint64_t length) const;
	std::string str() const { return read(0, size_); }

	friend bool operator==(const StoredBytes &stored, std::string_view bytes)
	{
		return stored.size_ == bytes.size() && stored.str() == bytes;
	}
	friend std::ostream &operator<<(std::ostream &out, const StoredBytes &stored)
	{
		return out << stored.size_ << " bytes";
	}

private:
	static constexpr uint64_t kBlock = 64 * 1024;
	std::map<uint64_t, std::string> blocks_; // by index; only blocks holding a non-zero byte
	uint64_t size_ = 0;
};

// How the fakes serve stored content: whole, or from "Range: bytes=N-" on with 206.
Reply contentReply(const ReceivedRequest &request, const StoredBytes &bytes);

// A chunk's "Content-Range: bytes FIRST-LAST/TOTAL", or "bytes */TOTAL" asking how far an
// upload got (then `query` is set).
struct ContentRange {
	uint64_t first = 0;
	uint64_t last = 0;
	uint64_t total = 0;
	bool query = false;
};
std::optional<ContentRange> parseContentRange(const std::string &header);

} // namespace kestrel::test
