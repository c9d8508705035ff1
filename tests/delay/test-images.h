#pragma once

#include "delay/video/picture-quality.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace kestrel::test {

// Smooth colour gradients with a sharp-edged block and light noise: enough detail that a
// broken codec shows, smooth enough that every quality setting keeps it recognisable.
inline std::vector<uint8_t> testImage(uint32_t width, uint32_t height, uint32_t seed = 1)
{
	std::vector<uint8_t> rgba(size_t{width} * height * 4);
	uint32_t noise = seed * 2654435761u + 1;
	for (uint32_t y = 0; y < height; ++y)
		for (uint32_t x = 0; x < width; ++x) {
			noise = noise * 1103515245u + 12345u;
			const int grain = static_cast<int>((noise >> 16) % 9) - 4;
			const bool block = x > width / 3 && x < width / 2 && y > height / 4 && y < height / 2;
			uint8_t *p = &rgba[(size_t{y} * width + x) * 4];
			p[0] = static_cast<uint8_t>(block ? 230 : 40 + 150 * x / width + grain);
			p[1] = static_cast<uint8_t>(block ? 30 : 60 + 120 * y / height + grain);
			p[2] = static_cast<uint8_t>(block ? 40 : 200 - 100 * x / width + grain);
			p[3] = 255;
		}
	return rgba;
}

// Peak signal-to-noise ratio over the colour channels, in dB.
inline double psnr(const std::vector<uint8_t> &a, const std::vector<uint8_t> &b)
{
	return rgbaPsnr(a.data(), b.data(), static_cast<uint32_t>(std::min(a.size(), b.size()) / 4), 1);
}

} // namespace kestrel::test
