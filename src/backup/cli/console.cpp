#include "console.h"

#include "backup/utf8-text.h"

#include <algorithm>

namespace kestrel::cli {

namespace {

constexpr int kBarWidth = 24;
constexpr size_t kNameWidth = 40;

} // namespace

Console::Console(std::FILE *logStream, bool quiet, bool progressBar)
    : logStream_(logStream), quiet_(quiet), progressBar_(progressBar && !quiet)
{
}

Console::~Console()
{
	clearBar();
}

RunLog Console::logger()
{
	return [this](const std::string &line) {
		if (quiet_)
			return;
		clearBar();
		std::fprintf(logStream_, "%s\n", printable(line).c_str());
		std::fflush(logStream_);
	};
}

RunProgress Console::progress()
{
	if (!progressBar_)
		return nullptr;
	return [this](const std::string &file, int32_t percent, int32_t index, int32_t total) {
		drawBar(file, percent, index, total);
	};
}

void Console::clearBar()
{
	if (!barShown_)
		return;
	std::fprintf(stderr, "\r\033[K");
	std::fflush(stderr);
	barShown_ = false;
}

void Console::drawBar(const std::string &file, int32_t percent, int32_t index, int32_t total)
{
	if (total <= 0)
		return;
	// Files before this one are done; this one counts by its own percentage.
	const double done = (std::max(index - 1, 0) + std::clamp(percent, 0, 100) / 100.0) / total;
	const int filled = static_cast<int>(done * kBarWidth + 0.5);
	std::string name = printable(file);
	if (name.size() > kNameWidth) {
		size_t start = name.size() - kNameWidth + 1;
		while (start < name.size() && (static_cast<unsigned char>(name[start]) & 0xC0) == 0x80)
			++start; // not inside a UTF-8 character
		name = "\u2026" + name.substr(start);
	}
	std::fprintf(stderr, "\r\033[K[%s%s] %3d%% %d/%d %s", std::string(filled, '#').c_str(),
		     std::string(kBarWidth - filled, '.').c_str(), static_cast<int>(done * 100), index, total,
		     name.c_str());
	std::fflush(stderr);
	barShown_ = true;
}

} // namespace kestrel::cli
