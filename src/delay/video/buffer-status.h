#pragma once

#include "delay/video/video-delay-worker.h"

#include <cstdint>
#include <string>

namespace kestrel {

// Short name of a FrameCodec engine, as the engine list and the buffer line show it.
const char *engineShortName(int engine);

// What the ring holds right now, for the property sheet: "Buffer: 20.0 s · 212 MB · 0 frames
// dropped · MJPEG (CPU)", or with a memory budget "Buffer: 120.0 s · 980 MB of 1024 MB · 0 frames
// dropped · H.264 (CPU) · ~38 dB" (the quality once measured). The ring may span more than the
// delay (H.264 keeps a group until the next one is due), so the time shown is the delay it
// actually gives, at most `delayNs`.
std::string bufferStatusLine(const VideoDelayWorker::Stats &stats, uint64_t delayNs);

// Empty unless the memory cap cuts the delay short; then how much of `delayNs` fits.
std::string capWarningLine(const VideoDelayWorker::Stats &stats, uint64_t delayNs, uint64_t capBytes);

} // namespace kestrel
