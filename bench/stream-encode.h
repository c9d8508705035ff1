#pragma once

#include "delay/video/ffmpeg-handles.h"

#include <cstdint>
#include <deque>
#include <vector>

namespace kestrel::bench {

// What viewers get: pictures encoded as OBS streams them (x264 "veryfast" at 6 Mb/s), decoded
// again and compared with the source each one shows.
class StreamEncode {
public:
	// Frames before `firstCounted` go into the stream but not into its PSNR.
	StreamEncode(uint32_t width, uint32_t height, uint64_t firstCounted);
	bool ok() const { return encoder_ && decoder_; }

	// Encodes `picture` (RGBA); `source` is what it shows.
	void push(const std::vector<uint8_t> &picture, const std::vector<uint8_t> &source);
	// Flushes the stream; the mean PSNR (dB) of what came out against the sources.
	double finish();

private:
	void drainEncoder();
	void drainDecoder();

	const uint32_t width_, height_;
	const uint64_t firstCounted_;
	CodecContextPtr encoder_;
	CodecContextPtr decoder_;
	ScalerPtr toYuv_;
	ScalerPtr toRgba_;
	FramePtr input_;
	FramePtr output_;
	PacketPtr packet_;
	std::vector<uint8_t> decoded_;
	std::deque<std::vector<uint8_t>> sources_; // of frames still in the encoder or decoder
	int64_t nextPts_ = 0;
	uint64_t decodedFrames_ = 0;
	double psnrSum_ = 0;
	uint64_t psnrCount_ = 0;
};

} // namespace kestrel::bench
