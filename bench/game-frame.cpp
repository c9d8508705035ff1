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

// Stone-like ground: smoothed random lattice at two scales with mortar lines, in a tile that
// wraps so panning needs no edge.
constexpr uint32_t kTileSide = 1024;

std::vector<uint8_t> groundTile()
{
	constexpr uint32_t lattice = 64;
	std::vector<uint8_t> coarse(lattice * lattice), fine(lattice * lattice);
	uint32_t state = 0x2545f491u;
	for (size_t i = 0; i < coarse.size(); ++i) {
		coarse[i] = static_cast<uint8_t>(nextRandom(state));
		fine[i] = static_cast<uint8_t>(nextRandom(state));
	}
	auto smooth = [&](const std::vector<uint8_t> &grid, uint32_t x, uint32_t y, uint32_t cell) {
		const uint32_t gx = x / cell, gy = y / cell;
		const double fx = static_cast<double>(x % cell) / cell,
			     fy = static_cast<double>(y % cell) / cell;
		auto at = [&](uint32_t i, uint32_t j) { return grid[(j % lattice) * lattice + i % lattice]; };
		const double top = at(gx, gy) * (1 - fx) + at(gx + 1, gy) * fx;
		const double bottom = at(gx, gy + 1) * (1 - fx) + at(gx + 1, gy + 1) * fx;
		return top * (1 - fy) + bottom * fy;
	};
	std::vector<uint8_t> tile(size_t{kTileSide} * kTileSide * 4);
	for (uint32_t y = 0; y < kTileSide; ++y)
		for (uint32_t x = 0; x < kTileSide; ++x) {
			const double shade = 0.55 * smooth(coarse, x, y, kTileSide / lattice) +
					     0.45 * smooth(fine, x * 4, y * 4, kTileSide / lattice);
			const bool mortar = y % 64 < 3 || (x + (y / 64 % 2) * 48) % 96 < 3;
			uint8_t *p = &tile[(size_t{y} * kTileSide + x) * 4];
			p[0] = static_cast<uint8_t>(mortar ? 50 : 60 + shade * 0.55);
			p[1] = static_cast<uint8_t>(mortar ? 45 : 50 + shade * 0.45);
			p[2] = static_cast<uint8_t>(mortar ? 40 : 40 + shade * 0.35);
			p[3] = 255;
		}
	return tile;
}

void drawGround(Canvas &c, uint32_t index)
{
	static const std::vector<uint8_t> tile = groundTile();
	const uint32_t panX = index * 5, panY = index * 2;
	for (uint32_t y = 0; y < c.height; ++y) {
		const uint8_t *row = &tile[size_t{(y + panY) % kTileSide} * kTileSide * 4];
		for (uint32_t x = 0; x < c.width; ++x) {
			const uint8_t *p = &row[size_t{(x + panX) % kTileSide} * 4];
			std::copy(p, p + 4, &c.pixels[(size_t{y} * c.width + x) * 4]);
		}
	}
}

void drawOverlays(Canvas &c, uint32_t index)
{
	drawText(c, c.width / 40, c.height - c.height / 4, c.width / 30, 8, 77 + index / 30);
	drawText(c, c.width - c.width / 4, c.height / 30, c.width / 70, 3, 5);
	c.fillRect(c.width / 40, c.height / 30, c.width / 8, c.width / 8, 30, 40, 30, 200);
}

} // namespace

std::vector<uint8_t> gameFrame(uint32_t width, uint32_t height, uint32_t index)
{
	Canvas canvas{width, height, std::vector<uint8_t>(size_t{width} * height * 4)};
	drawScenery(canvas, index);
	drawSprites(canvas, index);
	addGrain(canvas, index);
	drawOverlays(canvas, index);
	return canvas.pixels;
}

std::vector<uint8_t> movingScene(uint32_t width, uint32_t height, uint32_t index)
{
	Canvas canvas{width, height, std::vector<uint8_t>(size_t{width} * height * 4)};
	drawGround(canvas, index);
	drawSprites(canvas, index);
	drawOverlays(canvas, index);
	return canvas.pixels;
}

} // namespace kestrel::bench
