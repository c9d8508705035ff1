#pragma once

#include <util/base.h>

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

namespace kestrel::test {

// Collects what the code under test writes to the OBS log (from any thread) while it lives.
class LogCapture {
public:
	LogCapture()
	{
		base_get_log_handler(&previous_, &previousParam_);
		base_set_log_handler(&LogCapture::receive, this);
	}
	~LogCapture() { base_set_log_handler(previous_, previousParam_); }
	LogCapture(const LogCapture &) = delete;
	LogCapture &operator=(const LogCapture &) = delete;

	std::vector<std::string> linesContaining(const std::string &text) const
	{
		std::lock_guard guard(mutex_);
		std::vector<std::string> found;
		for (const std::string &line : lines_)
			if (line.find(text) != std::string::npos)
				found.push_back(line);
		return found;
	}

private:
	static void receive(int, const char *format, va_list args, void *param)
	{
		char text[1024];
		std::vsnprintf(text, sizeof text, format, args);
		auto *self = static_cast<LogCapture *>(param);
		std::lock_guard guard(self->mutex_);
		self->lines_.emplace_back(text);
	}

	log_handler_t previous_ = nullptr;
	void *previousParam_ = nullptr;
	mutable std::mutex mutex_;
	std::vector<std::string> lines_;
};

} // namespace kestrel::test
