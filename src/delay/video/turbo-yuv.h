#pragma once

#include "delay/video/ffmpeg-handles.h"

#include <cstdint>
#include <vector>

namespace kestrel {

// RGBA to and from full-range (JPEG) YCbCr planes through libjpeg-turbo's SIMD colour
// conversion: several times faster than libswscale from RGBA, and it averages chroma rather
// than picking one sample of four, which keeps colour edges sharp.
class TurboYuv {
public:
	TurboYuv();
	~TurboYuv();
	TurboYuv(const TurboYuv &) = delete;
	TurboYuv &operator=(const TurboYuv &) = delete;

	// Whether a frame of this format goes through here: 4:2:0 or 4:4:4, full range.
	static bool handles(int format);

	// Fills `frame` (allocated, one of the handled formats, width × height) from RGBA.
	bool toPlanes(const uint8_t *rgba, AVFrame &frame);
	bool toRgba(const AVFrame &frame, std::vector<uint8_t> &rgbaOut);

private:
	void *compressor_;
	void *decompressor_;
};

} // namespace kestrel
