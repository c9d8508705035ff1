#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace kestrel {

// Size and last change of a file: equal states before and after a copy mean it held still.
struct SourceState {
	int64_t size = -1;
	int64_t modified = 0;
	bool operator==(const SourceState &) const = default;
};

// Of the regular file at `file` (UTF-8); size -1 when it is missing or not a regular file.
SourceState sourceState(const std::string &file);

// Hashes the sources of copies on a thread of its own while files are copied: a large file
// hashes slower than the system copies it, so waiting for each hash would make the hashes the
// run's pace. A hash may run before, during or after its file's copy.
class SourceHasher {
public:
	struct Result {
		std::optional<std::string> sha256; // nothing when the file could not be read
		bool heldStill = false; // the file was in the state given with it all through the hash
	};

	SourceHasher();
	~SourceHasher();
	SourceHasher(const SourceHasher &) = delete;
	SourceHasher &operator=(const SourceHasher &) = delete;

	// Hashes `file` on the calling thread, checking that it holds state `before` throughout.
	static Result hash(const std::string &file, const SourceState &before);

	// Queues the hash of `file`, whose copy begins or began in state `before`; returns its ticket.
	size_t add(std::string file, SourceState before);
	// Waits for every queued hash; the results by ticket.
	std::vector<Result> finish();

private:
	struct Job {
		std::string file;
		SourceState before;
	};

	void work();

	std::mutex mutex_;
	std::condition_variable changed_;
	std::vector<Job> jobs_;
	std::vector<Result> results_;
	size_t started_ = 0;
	size_t finished_ = 0;
	bool stopping_ = false;
	std::thread worker_;
};

} // namespace kestrel
