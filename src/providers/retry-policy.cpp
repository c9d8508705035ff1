#include "providers/retry-policy.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <thread>

namespace kestrel {

namespace {

// "Sun, 06 Nov 1994 08:49:37 GMT", the one date form HTTP/1.1 senders must use.
std::optional<std::chrono::system_clock::time_point> parseHttpDate(const std::string &value)
{
	static const char *const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
					      "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
	char month[4] = {};
	int day = 0, year = 0, hour = 0, minute = 0, second = 0;
	if (value.size() < 29 || std::sscanf(value.c_str() + 5, "%2d %3s %4d %2d:%2d:%2d GMT", &day, month,
					     &year, &hour, &minute, &second) != 6)
		return std::nullopt;
	const auto found = std::find_if(std::begin(kMonths), std::end(kMonths),
					[&](const char *name) { return std::string(name) == month; });
	if (found == std::end(kMonths) || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60)
		return std::nullopt;
	const std::chrono::year_month_day date{std::chrono::year(year),
					       std::chrono::month(static_cast<unsigned>(found - kMonths + 1)),
					       std::chrono::day(static_cast<unsigned>(day))};
	if (!date.ok())
		return std::nullopt;
	return std::chrono::sys_days(date) + std::chrono::hours(hour) + std::chrono::minutes(minute) +
	       std::chrono::seconds(second);
}

} // namespace

bool isTransientStatus(int32_t status)
{
	return status == 0 || status == 429 || status == 500 || status == 502 || status == 503 ||
	       status == 504;
}

std::optional<std::chrono::milliseconds> parseRetryAfter(const std::string &value,
							 std::chrono::system_clock::time_point now)
{
	if (!value.empty() && value.size() <= 9 && value.find_first_not_of("0123456789") == std::string::npos)
		return std::chrono::seconds(std::strtoll(value.c_str(), nullptr, 10));
	const auto date = parseHttpDate(value);
	if (!date)
		return std::nullopt;
	return std::max(std::chrono::duration_cast<std::chrono::milliseconds>(*date - now),
			std::chrono::milliseconds(0));
}

RetrySchedule::RetrySchedule(const RetryLimits &limits) : limits_(limits), random_(std::random_device{}()) {}

std::optional<std::chrono::milliseconds> RetrySchedule::nextWait(int32_t status,
								 const std::string &retryAfter)
{
	if (!isTransientStatus(status) || attempt_ >= limits_.attempts)
		return std::nullopt;
	std::chrono::milliseconds wait;
	if (const auto asked = parseRetryAfter(retryAfter, std::chrono::system_clock::now())) {
		wait = *asked;
	} else {
		// Jittered: clients that failed together do not all come back together.
		const auto ceiling = std::min(
		    limits_.longestDelay, limits_.firstDelay * (int64_t{1} << std::min(attempt_ - 1, 20)));
		std::uniform_int_distribution<int64_t> pick(ceiling.count() / 2, ceiling.count());
		wait = std::chrono::milliseconds(pick(random_));
	}
	if (waited_ + wait > limits_.budget)
		return std::nullopt;
	waited_ += wait;
	++attempt_;
	return wait;
}

bool RetrySchedule::waitBeforeRetry(int32_t status, const std::string &retryAfter)
{
	const auto wait = nextWait(status, retryAfter);
	if (!wait)
		return false;
	if (limits_.sleep)
		limits_.sleep(*wait);
	else
		std::this_thread::sleep_for(*wait);
	return true;
}

} // namespace kestrel
