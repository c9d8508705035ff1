#pragma once

#include "common/log.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

namespace kestrel::test {

// Records what the code under test logs, from any thread, for as long as it lives.
class LogCapture {
public:
	struct Line {
		LogLevel level;
		std::string text;
	};

	LogCapture()
	{
		currentLogSink(&previous_, &previousContext_);
		setLogSink(&LogCapture::record, this);
	}
	~LogCapture() { setLogSink(previous_, previousContext_); }
	LogCapture(const LogCapture &) = delete;
	LogCapture &operator=(const LogCapture &) = delete;

	std::vector<Line> lines() const
	{
		std::lock_guard guard(mutex_);
		return lines_;
	}

	bool contains(LogLevel level, const std::string &text) const
	{
		std::lock_guard guard(mutex_);
		for (const auto &line : lines_)
			if (line.level == level && line.text == text)
				return true;
		return false;
	}

	bool containsLineStartingWith(LogLevel level, const std::string &prefix) const
	{
		std::lock_guard guard(mutex_);
		for (const auto &line : lines_)
			if (line.level == level && line.text.rfind(prefix, 0) == 0)
				return true;
		return false;
	}

	std::vector<std::string> linesContaining(const std::string &text) const
	{
		std::lock_guard guard(mutex_);
		std::vector<std::string> found;
		for (const auto &line : lines_)
			if (line.text.find(text) != std::string::npos)
				found.push_back(line.text);
		return found;
	}

protected:
	static void record(int level, const char *format, va_list args, void *context)
	{
		char text[8192];
		vsnprintf(text, sizeof(text), format, args);
		auto *self = static_cast<LogCapture *>(context);
		std::lock_guard guard(self->mutex_);
		self->lines_.push_back({static_cast<LogLevel>(level), text});
	}

private:
	LogSink previous_ = nullptr;
	void *previousContext_ = nullptr;
	mutable std::mutex mutex_;
	std::vector<Line> lines_;
};

} // namespace kestrel::test
