#pragma once

#include "delay/video/ffmpeg-handles.h"
#include "delay/video/turbo-yuv.h"

#include <cstdint>
#include <deque>
#include <utility>
#include <vector>

namespace kestrel {

// The libavcodec encoder half of the frame codec: MJPEG on the CPU, an H.264 encoder opened by
// name (the hardware ones), or libx264 with groups of pictures. One open encoder at a time,
// reused until closed.
class AvFrameEncoder {
public:
	bool openMjpeg(int width, int height, int quality, bool full444);
	bool openH264(const char *name, int width, int height, int quality);
	// Software H.264 whose P-frames need the frames before them: a key frame opens each group
	// of at most `groupFrames` frames, and every key frame carries its parameter sets. Every
	// frame is coded at `quantiser`; `threads` code slices of a frame side by side.
	bool openSoftwareH264(int width, int height, int quantiser, bool full444, int groupFrames,
			      int threads);
	void close();
	bool isOpen() const { return context_ != nullptr; }
	const std::vector<uint8_t> &h264Extradata() const { return h264Extradata_; }

	// Converts width × height RGBA into one packet. True with an empty packet when the encoder
	// holds the frame back; the packet that comes out later carries its frame's capture time.
	// `startGroup` makes this frame a key frame; `keyFrameOut` tells whether the packet is one.
	bool encode(const uint8_t *rgba, int64_t captureTimestamp, bool startGroup,
		    std::vector<uint8_t> &packetOut, int64_t &packetTimestampOut, bool &keyFrameOut);

private:
	// Closes the open encoder and starts a context for the next one (null when unavailable).
	CodecContextPtr newContext(const AVCodec *codec, int width, int height, AVPixelFormat format);
	// Opens the context and makes it the encoder, with its conversion and frames.
	bool adopt(CodecContextPtr context, int quality, bool turboPlanes = false);
	bool prepareFrames(AVPixelFormat format);
	bool convertInput(const uint8_t *rgba);
	int64_t captureTimeOf(int64_t pts, int64_t unmatched);
	void appendPacket(std::vector<uint8_t> &packetOut) const;

	CodecContextPtr context_;
	ScalerPtr toEncoderFormat_;
	// The software H.264 encoder takes its planes from libjpeg-turbo instead.
	TurboYuv turboYuv_;
	bool turboPlanes_ = false;
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
