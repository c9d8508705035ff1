#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace kestrel {

// JPEG compression with libjpeg-turbo: RGBA goes in and out directly through its SIMD colour
// conversion, several times faster than libavcodec's MJPEG plus libswscale on one core. The
// packets are ordinary baseline JPEG images, so libavcodec reads them as well and vice versa.
class TurboJpeg {
public:
	TurboJpeg();
	~TurboJpeg();
	TurboJpeg(const TurboJpeg &) = delete;
	TurboJpeg &operator=(const TurboJpeg &) = delete;

	// `quality` is the frame codec's quantiser scale: 1 = best .. 10 = smallest.
	bool encode(const uint8_t *rgba, int width, int height, int quality, bool full444,
		    std::vector<uint8_t> &packetOut);
	bool decode(const uint8_t *bytes, size_t size, std::vector<uint8_t> &rgbaOut, uint32_t &widthOut,
		    uint32_t &heightOut);

	// Quantisation table (natural order) for a quality, shared by luma and chroma.
	static std::array<unsigned int, 64> quantTable(int quality);

private:
	struct Compressor;
	struct Decompressor;
	std::unique_ptr<Compressor> compressor_;
	std::unique_ptr<Decompressor> decompressor_;
};

} // namespace kestrel
