#pragma once

#include "delay/video/ffmpeg-handles.h"
#include "delay/video/turbo-yuv.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kestrel {

// The libavcodec decoder half of the frame codec. It follows the format of the packets it is
// given and reopens only when that format changes.
class AvFrameDecoder {
public:
	// `threads` decode the slices of a frame side by side, where the encoder made several.
	explicit AvFrameDecoder(int threads = 1) : threads_(threads) {}

	// `h264Extradata` is handed to an H.264 decoder when it opens.
	bool decode(AVCodecID codec, const uint8_t *bytes, size_t size,
		    const std::vector<uint8_t> &h264Extradata, std::vector<uint8_t> &rgbaOut,
		    uint32_t &widthOut, uint32_t &heightOut);

private:
	bool open(AVCodecID codec, const std::vector<uint8_t> &h264Extradata);
	void close();
	bool convertToRgba(std::vector<uint8_t> &rgbaOut, uint32_t &widthOut, uint32_t &heightOut);

	const int threads_;
	CodecContextPtr decoder_;
	AVCodecID decoderCodec_ = AV_CODEC_ID_NONE;
	// Built for one size and format and reused while frames keep them.
	ScalerPtr toRgba_;
	int toRgbaWidth_ = 0;
	int toRgbaHeight_ = 0;
	int toRgbaFormat_ = AV_PIX_FMT_NONE;
	// Full-range H.264 pictures (the software engine's) go through libjpeg-turbo instead.
	TurboYuv turboYuv_;
	FramePtr decodedFrame_;
	PacketPtr inputPacket_;
};

} // namespace kestrel
