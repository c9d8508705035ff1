#pragma once

#include <util/base.h>

#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

namespace kestrel::test {

// Records what the code under test writes to the OBS log, for as long as it lives.
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

	const std::vector<Line> &lines() const { return lines_; }

	bool contains(int level, const std::string &text) const
	{
		for (const auto &line : lines_)
			if (line.level == level && line.text == text)
				return true;
		return false;
	}

private:
	static void record(int level, const char *format, va_list args, void *self)
	{
		char text[8192];
		vsnprintf(text, sizeof(text), format, args);
		static_cast<ObsLogCapture *>(self)->lines_.push_back({level, text});
	}

	log_handler_t previous_ = nullptr;
	void *previousParam_ = nullptr;
	std::vector<Line> lines_;
};

} // namespace kestrel::test
