#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <random>
#include <string>

namespace kestrel {

// How long a busy or flaky service is given before a request counts as failed.
struct RetryLimits {
	int attempts = 6; // the first try included
	std::chrono::milliseconds firstDelay{1000};
	std::chrono::milliseconds longestDelay{60000};
	// All the waiting for one request together; a Retry-After beyond it ends the request.
	std::chrono::milliseconds budget{300000};
	// Waits between attempts; tests replace it to see the waits without sitting them out.
	std::function<void(std::chrono::milliseconds)> sleep;
};

// Answers worth another try: no answer at all (a dropped connection, a time-out), too many
// requests, and the server errors that say "not now".
bool isTransientStatus(int32_t status);

// The wait a Retry-After value asks for: delay seconds or an HTTP date; nothing when it is
// neither.
std::optional<std::chrono::milliseconds> parseRetryAfter(const std::string &value,
							 std::chrono::system_clock::time_point now);

// The retries of one request: exponential back-off with full jitter, or what Retry-After asks.
class RetrySchedule {
public:
	explicit RetrySchedule(const RetryLimits &limits);

	// The wait before the next attempt after an answer of `status`; nothing when the request
	// should stand as it is (not transient, or the count or the budget is spent).
	std::optional<std::chrono::milliseconds> nextWait(int32_t status, const std::string &retryAfter);
	// nextWait, then sleeps it; false when there is to be no further attempt.
	bool waitBeforeRetry(int32_t status, const std::string &retryAfter);

private:
	const RetryLimits limits_;
	int attempt_ = 1;
	std::chrono::milliseconds waited_{0};
	std::mt19937_64 random_;
};

} // namespace kestrel
