#include "delay/video/av-frame-encoder.h"

extern "C" {
#include <libavutil/opt.h>
}

#include <algorithm>
#include <string_view>

namespace kestrel {

namespace {

// Quantiser and bit budget of the hardware encoders for quality 1 (best) .. 10 (smallest).
int h264Quantiser(int quality)
{
	return 18 + 22 * (quality - 1) / 9;
}

int64_t h264BitRate(int quality, int width, int height)
{
	const double bitsPerPixel = 0.45 - 0.4 * (quality - 1) / 9.0;
	return static_cast<int64_t>(bitsPerPixel * width * height * 30);
}

// Each vendor's knobs for the lowest latency at a constant quantiser.
void setVendorOptions(AVCodecContext *context, std::string_view name, int qp)
{
	void *options = context->priv_data;
	if (name == "h264_amf") {
		av_opt_set(options, "usage", "ultralowlatency", 0);
		av_opt_set(options, "rc", "cqp", 0);
		av_opt_set_int(options, "qp_i", qp, 0);
		av_opt_set_int(options, "qp_p", qp, 0);
		av_opt_set(options, "header_insertion_mode", "idr", 0);
	} else if (name == "h264_nvenc") {
		av_opt_set(options, "preset", "p1", 0);
		av_opt_set(options, "tune", "ull", 0);
		av_opt_set(options, "rc", "constqp", 0);
		av_opt_set_int(options, "qp", qp, 0);
		av_opt_set(options, "delay", "0", 0);
	} else if (name == "h264_qsv") {
		av_opt_set_int(options, "async_depth", 1, 0);
		context->global_quality = qp;
	}
}

// Annex B parameter sets can be put in front of a packet, which then decodes on its own even
// after the encoder reopened with different ones (a new size) while older packets still wait.
bool isAnnexB(const std::vector<uint8_t> &data)
{
	return (data.size() > 3 && data[0] == 0 && data[1] == 0 && data[2] == 1) ||
	       (data.size() > 4 && data[0] == 0 && data[1] == 0 && data[2] == 0 && data[3] == 1);
}

bool startsWithSequenceParameters(const uint8_t *data, int size)
{
	const int header = size > 3 && data[2] == 1 ? 3 : 4;
	return size > header && (data[header] & 0x1f) == 7;
}

} // namespace

CodecContextPtr AvFrameEncoder::newContext(const AVCodec *codec, int width, int height, AVPixelFormat format)
{
	close();
	CodecContextPtr context(codec ? avcodec_alloc_context3(codec) : nullptr);
	if (context) {
		context->width = width;
		context->height = height;
		context->pix_fmt = format;
	}
	return context;
}

bool AvFrameEncoder::adopt(CodecContextPtr context, int quality, bool turboPlanes)
{
	if (avcodec_open2(context.get(), context->codec, nullptr) < 0)
		return false;
	context_ = std::move(context);
	width_ = context_->width;
	height_ = context_->height;
	quality_ = quality;
	turboPlanes_ = turboPlanes;
	return prepareFrames(context_->pix_fmt);
}

bool AvFrameEncoder::openMjpeg(int width, int height, int quality, bool full444)
{
	CodecContextPtr context = newContext(avcodec_find_encoder(AV_CODEC_ID_MJPEG), width, height,
					     full444 ? AV_PIX_FMT_YUVJ444P : AV_PIX_FMT_YUVJ420P);
	if (!context)
		return false;
	context->time_base = {1, 60};
	context->flags |= AV_CODEC_FLAG_QSCALE;
	context->global_quality = quality * FF_QP2LAMBDA;
	context->thread_count = 1;
	context->strict_std_compliance = FF_COMPLIANCE_UNOFFICIAL;
	return adopt(std::move(context), quality);
}

bool AvFrameEncoder::openH264(const char *name, int width, int height, int quality)
{
	CodecContextPtr context =
	    newContext(avcodec_find_encoder_by_name(name), width, height, AV_PIX_FMT_NV12);
	if (!context)
		return false;
	context->time_base = {1, 30};
	context->framerate = {30, 1};
	context->gop_size = 1; // every packet decodes on its own
	context->max_b_frames = 0;
	context->flags |= AV_CODEC_FLAG_LOW_DELAY | AV_CODEC_FLAG_GLOBAL_HEADER;
	context->bit_rate = h264BitRate(quality, width, height);
	context->rc_max_rate = context->bit_rate;
	setVendorOptions(context.get(), name, h264Quantiser(quality));
	if (!adopt(std::move(context), quality))
		return false;
	h264Extradata_.assign(context_->extradata,
			      context_->extradata + std::max(0, context_->extradata_size));
	return true;
}

bool AvFrameEncoder::openSoftwareH264(int width, int height, int quantiser, bool full444, int groupFrames,
				      int threads)
{
	CodecContextPtr context = newContext(avcodec_find_encoder_by_name("libx264"), width, height,
					     full444 ? AV_PIX_FMT_YUVJ444P : AV_PIX_FMT_YUVJ420P);
	if (!context)
		return false;
	context->time_base = {1, 60};
	context->framerate = {60, 1};
	context->gop_size = groupFrames;
	context->max_b_frames = 0;
	// With zero latency tuning the threads share out slices of each frame, so no frame is held.
	context->thread_count = std::max(1, threads);
	// Key frames at the group's quantiser too: the group's quality is then the key frame's.
	context->i_quant_factor = 1.0f;
	context->flags |= AV_CODEC_FLAG_LOW_DELAY;
	void *options = context->priv_data;
	av_opt_set(options, "preset", "ultrafast", 0);
	av_opt_set(options, "tune", "zerolatency", 0);
	av_opt_set_int(options, "qp", quantiser, 0);
	av_opt_set_int(options, "forced-idr", 1, 0);
	// Coarser steps for fine detail than for broad shapes (the JVT's default matrices): a stream
	// encode of the delayed picture keeps the broad shapes and little else, so at the same bits
	// its copy of the delayed picture comes far closer to its copy of the live one.
	av_opt_set(options, "x264-params", "cqm=jvt", 0);
	// Averaged rather than picked chroma: at these quantisers the colour edges of 4:2:0 would
	// otherwise cost more than the compression does.
	// Without a global header the parameter sets travel in band with each key frame.
	return adopt(std::move(context), quantiser, true);
}

bool AvFrameEncoder::prepareFrames(AVPixelFormat format)
{
	inputFrame_.reset(av_frame_alloc());
	outputPacket_.reset(av_packet_alloc());
	if (inputFrame_ && outputPacket_) {
		inputFrame_->format = format;
		inputFrame_->width = width_;
		inputFrame_->height = height_;
		if (!turboPlanes_)
			toEncoderFormat_ = makeConverter(width_, height_, AV_PIX_FMT_RGBA, format);
		if ((turboPlanes_ || toEncoderFormat_) && av_frame_get_buffer(inputFrame_.get(), 0) >= 0)
			return true;
	}
	close();
	return false;
}

void AvFrameEncoder::close()
{
	context_.reset();
	toEncoderFormat_.reset();
	inputFrame_.reset();
	outputPacket_.reset();
	width_ = height_ = quality_ = 0;
	turboPlanes_ = false;
	nextPts_ = 0;
	pendingStamps_.clear();
}

bool AvFrameEncoder::encode(const uint8_t *rgba, int64_t captureTimestamp, bool startGroup,
			    std::vector<uint8_t> &packetOut, int64_t &packetTimestampOut, bool &keyFrameOut)
{
	packetOut.clear();
	packetTimestampOut = captureTimestamp;
	keyFrameOut = false;
	if (!context_ || av_frame_make_writable(inputFrame_.get()) < 0)
		return false;
	if (!convertInput(rgba))
		return false;
	if (context_->codec_id == AV_CODEC_ID_MJPEG)
		inputFrame_->quality = quality_ * FF_QP2LAMBDA;
	inputFrame_->pict_type = startGroup ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
	inputFrame_->pts = nextPts_++;
	pendingStamps_.emplace_back(inputFrame_->pts, captureTimestamp);
	if (avcodec_send_frame(context_.get(), inputFrame_.get()) < 0)
		return false;
	const int received = avcodec_receive_packet(context_.get(), outputPacket_.get());
	if (received == AVERROR(EAGAIN))
		return true;
	if (received < 0)
		return false;
	packetTimestampOut = captureTimeOf(outputPacket_->pts, captureTimestamp);
	keyFrameOut = (outputPacket_->flags & AV_PKT_FLAG_KEY) != 0;
	appendPacket(packetOut);
	av_packet_unref(outputPacket_.get());
	return true;
}

bool AvFrameEncoder::convertInput(const uint8_t *rgba)
{
	if (turboPlanes_)
		return turboYuv_.toPlanes(rgba, *inputFrame_);
	const uint8_t *const planes[1] = {rgba};
	const int strides[1] = {width_ * 4};
	sws_scale(toEncoderFormat_.get(), planes, strides, 0, height_, inputFrame_->data,
		  inputFrame_->linesize);
	return true;
}

int64_t AvFrameEncoder::captureTimeOf(int64_t pts, int64_t unmatched)
{
	while (!pendingStamps_.empty() && pendingStamps_.front().first < pts)
		pendingStamps_.pop_front();
	if (pendingStamps_.empty() || pendingStamps_.front().first != pts)
		return unmatched;
	const int64_t captured = pendingStamps_.front().second;
	pendingStamps_.pop_front();
	return captured;
}

void AvFrameEncoder::appendPacket(std::vector<uint8_t> &packetOut) const
{
	const uint8_t *data = outputPacket_->data;
	const int size = outputPacket_->size;
	if ((context_->flags & AV_CODEC_FLAG_GLOBAL_HEADER) && isAnnexB(h264Extradata_) &&
	    !startsWithSequenceParameters(data, size))
		packetOut.assign(h264Extradata_.begin(), h264Extradata_.end());
	packetOut.insert(packetOut.end(), data, data + size);
}

} // namespace kestrel
