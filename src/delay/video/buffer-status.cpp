#include "delay/video/buffer-status.h"

#include <algorithm>
#include <cstdio>

namespace kestrel {

namespace {

constexpr double kMiB = 1024.0 * 1024.0;

double seconds(uint64_t ns)
{
	return static_cast<double>(ns) / 1e9;
}

} // namespace

const char *engineShortName(int engine)
{
	switch (engine) {
	case FrameCodec::kEngineMjpeg:
		return "MJPEG (CPU)";
	case FrameCodec::kEngineHardware:
		return "H.264 (GPU)";
	case FrameCodec::kEngineSoftwareH264:
		return "H.264 (CPU)";
	default:
		return "no frames yet";
	}
}

std::string bufferStatusLine(const VideoDelayWorker::Stats &stats, uint64_t delayNs)
{
	char budget[48] = "";
	if (stats.budgetBytes > 0)
		std::snprintf(budget, sizeof budget, " of %.0f MB",
			      static_cast<double>(stats.budgetBytes) / kMiB);
	char quality[24] = "";
	if (stats.psnrDb > 0)
		std::snprintf(quality, sizeof quality, " · ~%.0f dB", stats.psnrDb);
	char line[200];
	std::snprintf(line, sizeof line, "Buffer: %.1f s · %.0f MB%s · %llu frame%s dropped · %s%s",
		      seconds(std::min(stats.heldNs, delayNs)), static_cast<double>(stats.ringBytes) / kMiB,
		      budget, static_cast<unsigned long long>(stats.droppedFrames),
		      stats.droppedFrames == 1 ? "" : "s", engineShortName(stats.engineInUse), quality);
	return line;
}

std::string capWarningLine(const VideoDelayWorker::Stats &stats, uint64_t delayNs, uint64_t capBytes)
{
	if (!stats.capLimited)
		return {};
	char line[256];
	std::snprintf(line, sizeof line,
		      "Only %.1f s of the %.1f s delay fit in %.0f MB at this rate: the picture runs "
		      "ahead of the sound. Lower quality/FPS/resolution or use H.264 (CPU).",
		      seconds(stats.fitNs), seconds(delayNs), static_cast<double>(capBytes) / kMiB);
	return line;
}

} // namespace kestrel
