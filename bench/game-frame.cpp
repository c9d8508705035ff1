#include "game-frame.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace kestrel::bench {

namespace {

struct Canvas {
	uint32_t width, height;
	std::vector<uint8_t> pixels;

	void blend(uint32_t x, uint32_t y, uint8_t r, uint8_t g, uint8_t b, int alpha)
	{
		if (x >= width || y >= height)
			return;
		uint8_t *p = &pixels[(size_t{y} * width + x) * 4];
		p[0] = static_cast<uint8_t>((p[0] * (255 - alpha) + r * alpha) / 255);
		p[1] = static_cast<uint8_t>((p[1] * (255 - alpha) + g * alpha) / 255);
		p[2] = static_cast<uint8_t>((p[2] * (255 - alpha) + b * alpha) / 255);
	}

	void fillRect(uint32_t x0, uint32_t y0, uint32_t w, uint32_t h, uint8_t r, uint8_t g, uint8_t b,
		      int alpha)
	{
		for (uint32_t y = y0; y < y0 + h; ++y)
			for (uint32_t x = x0; x < x0 + w; ++x)
				blend(x, y, r, g, b, alpha);
	}
};

uint32_t nextRandom(uint32_t &state)
{
	state ^= state << 13;
	state ^= state >> 17;
	state ^= state << 5;
	return state;
}

void drawScenery(Canvas &c, uint32_t index)
{
	for (uint32_t y = 0; y < c.height; ++y) {
		const double v = static_cast<double>(y) / c.height;
		for (uint32_t x = 0; x < c.width; ++x) {
			const double u = static_cast<double>(x) / c.width;
			const double hill =
			    0.6 + 0.08 * std::sin(u * 9.0 + index * 0.05) + 0.04 * std::sin(u * 37.0);
			uint8_t *p = &c.pixels[(size_t{y} * c.width + x) * 4];
			if (v < hill) {
				p[0] = static_cast<uint8_t>(70 + 90 * v);
				p[1] = static_cast<uint8_t>(120 + 80 * v);
				p[2] = static_cast<uint8_t>(200 + 40 * v);
			} else {
				const bool stripe = (static_cast<uint32_t>(u * 160 + v * 90) & 3) == 0;
				p[0] = static_cast<uint8_t>(60 + 50 * v + (stripe ? 30 : 0));
				p[1] = static_cast<uint8_t>(110 - 40 * v);
				p[2] = static_cast<uint8_t>(40 + 20 * u);
			}
			p[3] = 255;
		}
	}
}

void drawSprites(Canvas &c, uint32_t index)
{
	uint32_t seed = 0x9e3779b9u;
	for (int i = 0; i < 24; ++i) {
		const uint32_t size = c.height / 20 + nextRandom(seed) % (c.height / 8);
		const uint32_t x = (nextRandom(seed) + index * (3 + i % 5)) % c.width;
		const uint32_t y = nextRandom(seed) % (c.height - size);
		const auto r = static_cast<uint8_t>(nextRandom(seed)),
			   g = static_cast<uint8_t>(nextRandom(seed)),
			   b = static_cast<uint8_t>(nextRandom(seed));
		const double radius = size / 2.0;
		for (uint32_t dy = 0; dy < size; ++dy)
			for (uint32_t dx = 0; dx < size; ++dx) {
				const double d = std::hypot(dx - radius, dy - radius);
				if (d < radius)
					c.blend(x + dx, y + dy,
						static_cast<uint8_t>(r * (1.2 - d / radius) / 1.2), g, b,
						255);
			}
	}
}

// Lines of 5 × 7 glyphs drawn at twice their size, like a chat overlay or a score board.
void drawText(Canvas &c, uint32_t x0, uint32_t y0, uint32_t columns, uint32_t lines, uint32_t seed)
{
	std::array<std::array<uint8_t, 7>, 64> glyphs{};
	uint32_t state = 0x1234567u;
	for (auto &glyph : glyphs)
		for (auto &row : glyph)
			row = static_cast<uint8_t>(nextRandom(state) & 0x1f);
	c.fillRect(x0, y0, columns * 12 + 8, lines * 18 + 8, 10, 10, 20, 170);
	for (uint32_t line = 0; line < lines; ++line)
		for (uint32_t col = 0; col < columns; ++col) {
			const uint32_t pick = nextRandom(seed);
			if (pick % 7 == 0)
				continue; // a space between words
			const auto &glyph = glyphs[pick % glyphs.size()];
			for (uint32_t gy = 0; gy < 14; ++gy)
				for (uint32_t gx = 0; gx < 10; ++gx)
					if (glyph[gy / 2] & (1u << (gx / 2)))
						c.blend(x0 + 4 + col * 12 + gx, y0 + 4 + line * 18 + gy, 250,
							250, 235, 255);
		}
}

void addGrain(Canvas &c, uint32_t index)
{
	uint32_t state = 0xa5a5a5a5u ^ (index * 2654435761u);
	for (size_t i = 0; i < c.pixels.size(); i += 4) {
		const int n = static_cast<int>(nextRandom(state) % 25) - 12;
		for (size_t k = 0; k < 3; ++k)
			c.pixels[i + k] = static_cast<uint8_t>(std::clamp(c.pixels[i + k] + n, 0, 255));
	}
}

} // namespace

std::vector<uint8_t> gameFrame(uint32_t width, uint32_t height, uint32_t index)
{
	Canvas canvas{width, height, std::vector<uint8_t>(size_t{width} * height * 4)};
	drawScenery(canvas, index);
	drawSprites(canvas, index);
	addGrain(canvas, index);
	drawText(canvas, width / 40, height - height / 4, width / 30, 8, 77 + index / 30);
	drawText(canvas, width - width / 4, height / 30, width / 70, 3, 5);
	canvas.fillRect(width / 40, height / 30, width / 8, width / 8, 30, 40, 30, 200);
	return canvas.pixels;
}

} // namespace kestrel::bench
