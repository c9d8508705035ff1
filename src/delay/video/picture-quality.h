#pragma once

#include <cstdint>

namespace kestrel {

// Peak signal-to-noise ratio over the colour channels of two RGBA images of width × height with
// rows tightly packed, in dB (99 when they are equal), taken on every `rowStep`-th row.
double rgbaPsnr(const uint8_t *a, const uint8_t *b, uint32_t width, uint32_t height, uint32_t rowStep = 1);

} // namespace kestrel
