#include "delay/video/picture-quality.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace kestrel {

double rgbaPsnr(const uint8_t *a, const uint8_t *b, uint32_t width, uint32_t height, uint32_t rowStep)
{
	uint64_t squares = 0, samples = 0;
	for (uint32_t y = 0; y < height; y += std::max(1u, rowStep)) {
		const size_t row = size_t{y} * width * 4;
		for (size_t i = row; i < row + size_t{width} * 4; i += 4)
			for (size_t k = i; k < i + 3; ++k) {
				const int d = a[k] - b[k];
				squares += static_cast<uint64_t>(d * d);
			}
		samples += size_t{width} * 3;
	}
	if (squares == 0)
		return 99.0;
	return 10.0 * std::log10(255.0 * 255.0 * static_cast<double>(samples) / static_cast<double>(squares));
}

} // namespace kestrel
