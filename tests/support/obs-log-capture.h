#pragma once

#include <util/base.h>

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

namespace kestrel::test {

// Records what the code under test writes to the OBS log, from any thread, for as long as it
// lives.
class ObsLogCapture {
public:
	struct Line {
		int level;
		std::string text;
	};

	ObsLogCapture()
	{
		base_get_log_handler(&previous_, &previousParam_);
		base_set_log_handler(&ObsLogCapture::record, this);
	}
	~ObsLogCapture() { base_set_log_handler(previous_, previousParam_); }
	ObsLogCapture(const ObsLogCapture &) = delete;
	ObsLogCapture &operator=(const ObsLogCapture &) = delete;

	std::vector<Line> lines() const
	{
		std::lock_guard guard(mutex_);
		return lines_;
	}

	bool contains(int level, const std::string &text) const
	{
		std::lock_guard guard(mutex_);
		for (const auto &line : lines_)
			if (line.level == level && line.text == text)
				return true;
		return false;
	}

	bool containsLineStartingWith(int level, const std::string &prefix) const
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

private:
	static void record(int level, const char *format, va_list args, void *param)
	{
		char text[8192];
		vsnprintf(text, sizeof(text), format, args);
		auto *self = static_cast<ObsLogCapture *>(param);
		std::lock_guard guard(self->mutex_);
		self->lines_.push_back({level, text});
	}

	log_handler_t previous_ = nullptr;
	void *previousParam_ = nullptr;
	mutable std::mutex mutex_;
	std::vector<Line> lines_;
};

} // namespace kestrel::test
