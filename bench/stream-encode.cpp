#include "stream-encode.h"

#include "delay/video/picture-quality.h"

extern "C" {
#include <libavutil/opt.h>
}

namespace kestrel::bench {

namespace {

constexpr int64_t kStreamBitRate = 6'000'000;

// Chroma averaged, as OBS's own conversion shader does, not picked.
ScalerPtr converter(uint32_t width, uint32_t height, AVPixelFormat from, AVPixelFormat to)
{
	const auto w = static_cast<int>(width), h = static_cast<int>(height);
	return ScalerPtr(sws_getContext(w, h, from, w, h, to, SWS_BILINEAR, nullptr, nullptr, nullptr));
}

} // namespace

StreamEncode::StreamEncode(uint32_t width, uint32_t height, uint64_t firstCounted)
    : width_(width), height_(height), firstCounted_(firstCounted),
      toYuv_(converter(width, height, AV_PIX_FMT_RGBA, AV_PIX_FMT_YUV420P)),
      toRgba_(converter(width, height, AV_PIX_FMT_YUV420P, AV_PIX_FMT_RGBA)), input_(av_frame_alloc()),
      output_(av_frame_alloc()), packet_(av_packet_alloc())
{
	const AVCodec *x264 = avcodec_find_encoder_by_name("libx264");
	const AVCodec *h264 = avcodec_find_decoder(AV_CODEC_ID_H264);
	if (!x264 || !h264 || !toYuv_ || !toRgba_ || !input_ || !output_ || !packet_)
		return;
	CodecContextPtr encoder(avcodec_alloc_context3(x264));
	encoder->width = static_cast<int>(width);
	encoder->height = static_cast<int>(height);
	encoder->pix_fmt = AV_PIX_FMT_YUV420P;
	encoder->time_base = {1, 60};
	encoder->framerate = {60, 1};
	encoder->gop_size = 120; // a key frame every two seconds, as streaming services ask
	encoder->bit_rate = kStreamBitRate;
	encoder->rc_max_rate = kStreamBitRate;
	encoder->rc_buffer_size = static_cast<int>(kStreamBitRate);
	encoder->thread_count = 0;
	av_opt_set(encoder->priv_data, "preset", "veryfast", 0);
	av_opt_set(encoder->priv_data, "profile", "high", 0);
	CodecContextPtr decoder(avcodec_alloc_context3(h264));
	if (avcodec_open2(encoder.get(), x264, nullptr) < 0 ||
	    avcodec_open2(decoder.get(), h264, nullptr) < 0)
		return;
	input_->format = AV_PIX_FMT_YUV420P;
	input_->width = encoder->width;
	input_->height = encoder->height;
	if (av_frame_get_buffer(input_.get(), 0) < 0)
		return;
	encoder_ = std::move(encoder);
	decoder_ = std::move(decoder);
}

void StreamEncode::push(const std::vector<uint8_t> &picture, const std::vector<uint8_t> &source)
{
	if (!ok() || av_frame_make_writable(input_.get()) < 0)
		return;
	const uint8_t *const planes[1] = {picture.data()};
	const int strides[1] = {static_cast<int>(width_ * 4)};
	sws_scale(toYuv_.get(), planes, strides, 0, static_cast<int>(height_), input_->data,
		  input_->linesize);
	input_->pts = nextPts_++;
	sources_.push_back(source);
	if (avcodec_send_frame(encoder_.get(), input_.get()) >= 0)
		drainEncoder();
}

void StreamEncode::drainEncoder()
{
	while (avcodec_receive_packet(encoder_.get(), packet_.get()) >= 0) {
		const int sent = avcodec_send_packet(decoder_.get(), packet_.get());
		av_packet_unref(packet_.get());
		if (sent >= 0)
			drainDecoder();
	}
}

void StreamEncode::drainDecoder()
{
	while (avcodec_receive_frame(decoder_.get(), output_.get()) >= 0) {
		decoded_.resize(size_t{width_} * height_ * 4);
		uint8_t *const planes[1] = {decoded_.data()};
		const int strides[1] = {static_cast<int>(width_ * 4)};
		sws_scale(toRgba_.get(), output_->data, output_->linesize, 0, static_cast<int>(height_),
			  planes, strides);
		av_frame_unref(output_.get());
		if (sources_.empty())
			continue;
		if (decodedFrames_++ >= firstCounted_) {
			psnrSum_ += rgbaPsnr(decoded_.data(), sources_.front().data(), width_, height_);
			++psnrCount_;
		}
		sources_.pop_front();
	}
}

double StreamEncode::finish()
{
	if (!ok())
		return 0;
	if (avcodec_send_frame(encoder_.get(), nullptr) >= 0)
		drainEncoder();
	if (avcodec_send_packet(decoder_.get(), nullptr) >= 0)
		drainDecoder();
	return psnrCount_ ? psnrSum_ / static_cast<double>(psnrCount_) : 0;
}

} // namespace kestrel::bench
