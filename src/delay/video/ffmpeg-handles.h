#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

#include <memory>

namespace kestrel {

// Owning handles for the FFmpeg objects the codec keeps from frame to frame, so every early
// return frees what was allocated so far.
struct CodecContextDeleter {
	void operator()(AVCodecContext *context) const { avcodec_free_context(&context); }
};
struct FrameDeleter {
	void operator()(AVFrame *frame) const { av_frame_free(&frame); }
};
struct PacketDeleter {
	void operator()(AVPacket *packet) const { av_packet_free(&packet); }
};
struct ScalerDeleter {
	void operator()(SwsContext *scaler) const { sws_freeContext(scaler); }
};

using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
using ScalerPtr = std::unique_ptr<SwsContext, ScalerDeleter>;

// Same-size converter between RGBA and a YUV format (either direction). The JPEG formats
// (YUVJ…) are given to libswscale as their plain twins with full range, which it handles
// without its per-context deprecation warning and which lets a context be reused.
ScalerPtr makeConverter(int width, int height, AVPixelFormat from, AVPixelFormat to);

} // namespace kestrel
