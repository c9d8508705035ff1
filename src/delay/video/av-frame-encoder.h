#pragma once

#include "delay/video/ffmpeg-handles.h"

#include <cstdint>
#include <deque>
#include <utility>
#include <vector>

namespace kestrel {

// The libavcodec encoder half of the frame codec: MJPEG on the CPU, or an H.264 encoder opened
// by name (the hardware ones). One open encoder at a time, reused until closed.
class AvFrameEncoder {
public:
	bool openMjpeg(int width, int height, int quality, bool full444);
	bool openH264(const char *name, int width, int height, int quality);
	void close();
	bool isOpen() const { return context_ != nullptr; }
	const std::vector<uint8_t> &h264Extradata() const { return h264Extradata_; }

	// Converts width × height RGBA into one packet. True with an empty packet when the encoder
	// holds the frame back; the packet that comes out later carries its frame's capture time.
	bool encode(const uint8_t *rgba, int64_t captureTimestamp, std::vector<uint8_t> &packetOut,
		    int64_t &packetTimestampOut);

private:
	// Closes the open encoder and starts a context for the next one (null when unavailable).
	CodecContextPtr newContext(const AVCodec *codec, int width, int height, AVPixelFormat format);
	// Opens the context and makes it the encoder, with its conversion and frames.
	bool adopt(CodecContextPtr context, int quality);
	bool prepareFrames(AVPixelFormat format);
	int64_t captureTimeOf(int64_t pts, int64_t unmatched);
	void appendPacket(std::vector<uint8_t> &packetOut) const;

	CodecContextPtr context_;
	ScalerPtr toEncoderFormat_;
	FramePtr inputFrame_;
	PacketPtr outputPacket_;
	int width_ = 0;
	int height_ = 0;
	int quality_ = 0;
	int64_t nextPts_ = 0;
	std::deque<std::pair<int64_t, int64_t>> pendingStamps_;
	// H.264 parameter sets of the encoder that opened last (its global header).
	std::vector<uint8_t> h264Extradata_;
};

} // namespace kestrel
