#include "backup/source-hasher.h"

#include "platform/file-state.h"
#include "platform/sha256.h"

#include <chrono>

namespace kestrel {

SourceState sourceState(const std::string &file)
{
	const std::optional<platform::FileState> state = platform::fileState(file);
	if (!state)
		return {};
	// In the file system clock's own units: only ever compared with another reading.
	return {
	    static_cast<int64_t>(state->size),
	    std::chrono::duration_cast<std::chrono::nanoseconds>(state->modified.time_since_epoch()).count()};
}

SourceHasher::Result SourceHasher::hash(const std::string &file, const SourceState &before)
{
	const bool stillAtStart = before.size >= 0 && sourceState(file) == before;
	Result result;
	result.sha256 = platform::sha256HexOfFile(file);
	result.heldStill = stillAtStart && sourceState(file) == before;
	return result;
}

SourceHasher::SourceHasher() : worker_([this] { work(); }) {}

SourceHasher::~SourceHasher()
{
	{
		const std::lock_guard lock(mutex_);
		stopping_ = true;
	}
	changed_.notify_all();
	worker_.join();
}

size_t SourceHasher::add(std::string file, SourceState before)
{
	size_t ticket = 0;
	{
		const std::lock_guard lock(mutex_);
		ticket = jobs_.size();
		jobs_.push_back({std::move(file), before});
		results_.emplace_back();
	}
	changed_.notify_all();
	return ticket;
}

std::vector<SourceHasher::Result> SourceHasher::finish()
{
	std::unique_lock lock(mutex_);
	changed_.wait(lock, [this] { return finished_ == jobs_.size(); });
	return results_;
}

void SourceHasher::work()
{
	std::unique_lock lock(mutex_);
	for (;;) {
		changed_.wait(lock, [this] { return stopping_ || started_ < jobs_.size(); });
		if (stopping_)
			return;
		const size_t ticket = started_++;
		const Job job = jobs_[ticket];
		lock.unlock();
		Result result = hash(job.file, job.before);
		lock.lock();
		results_[ticket] = std::move(result);
		++finished_;
		changed_.notify_all();
	}
}

} // namespace kestrel
