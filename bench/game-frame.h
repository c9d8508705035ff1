#pragma once

#include <cstdint>
#include <vector>

namespace kestrel::bench {

// A frame that compresses like a busy game capture rather than a flat test card: shaded
// scenery, moving sprites, a HUD with lines of small glyphs, and film-grain noise on top.
// `index` moves the sprites and reseeds the noise so consecutive frames differ.
std::vector<uint8_t> gameFrame(uint32_t width, uint32_t height, uint32_t index);

// The same sprites and HUD over textured ground that pans a few pixels per frame, with no
// noise: what a camera move in a game looks like to a codec that can reuse the last frame.
std::vector<uint8_t> movingScene(uint32_t width, uint32_t height, uint32_t index);

} // namespace kestrel::bench
