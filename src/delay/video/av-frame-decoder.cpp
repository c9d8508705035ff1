#include "delay/video/av-frame-decoder.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace kestrel {

bool AvFrameDecoder::open(AVCodecID codec, const std::vector<uint8_t> &h264Extradata)
{
	close();
	const AVCodec *found = avcodec_find_decoder(codec);
	if (!found)
		return false;
	CodecContextPtr decoder(avcodec_alloc_context3(found));
	if (!decoder)
		return false;
	decoder->thread_count = std::max(1, threads_);
	decoder->thread_type = FF_THREAD_SLICE; // frame threads would hold frames back
	decoder->flags |= AV_CODEC_FLAG_LOW_DELAY;
	if (codec == AV_CODEC_ID_H264 && !h264Extradata.empty()) {
		const size_t size = h264Extradata.size();
		auto *copy = static_cast<uint8_t *>(av_mallocz(size + AV_INPUT_BUFFER_PADDING_SIZE));
		if (!copy)
			return false;
		std::memcpy(copy, h264Extradata.data(), size);
		decoder->extradata = copy; // freed with the context
		decoder->extradata_size = static_cast<int>(size);
	}
	if (avcodec_open2(decoder.get(), found, nullptr) < 0)
		return false;
	decodedFrame_.reset(av_frame_alloc());
	inputPacket_.reset(av_packet_alloc());
	if (!decodedFrame_ || !inputPacket_) {
		close();
		return false;
	}
	decoder_ = std::move(decoder);
	decoderCodec_ = codec;
	return true;
}

void AvFrameDecoder::close()
{
	decoder_.reset();
	decoderCodec_ = AV_CODEC_ID_NONE;
	toRgba_.reset();
	decodedFrame_.reset();
	inputPacket_.reset();
}

bool AvFrameDecoder::decode(AVCodecID codec, const uint8_t *bytes, size_t size,
			    const std::vector<uint8_t> &h264Extradata, std::vector<uint8_t> &rgbaOut,
			    uint32_t &widthOut, uint32_t &heightOut)
{
	if (size > INT_MAX - AV_INPUT_BUFFER_PADDING_SIZE)
		return false;
	if ((!decoder_ || decoderCodec_ != codec) && !open(codec, h264Extradata))
		return false;
	if (av_new_packet(inputPacket_.get(), static_cast<int>(size)) < 0)
		return false;
	std::memcpy(inputPacket_->data, bytes, size);
	const int sent = avcodec_send_packet(decoder_.get(), inputPacket_.get());
	av_packet_unref(inputPacket_.get());
	if (sent < 0 || avcodec_receive_frame(decoder_.get(), decodedFrame_.get()) < 0)
		return false;
	const bool converted = convertToRgba(rgbaOut, widthOut, heightOut);
	av_frame_unref(decodedFrame_.get());
	return converted;
}

bool AvFrameDecoder::convertToRgba(std::vector<uint8_t> &rgbaOut, uint32_t &widthOut, uint32_t &heightOut)
{
	const AVFrame &frame = *decodedFrame_;
	if (decoderCodec_ == AV_CODEC_ID_H264 && TurboYuv::handles(frame.format)) {
		widthOut = static_cast<uint32_t>(frame.width);
		heightOut = static_cast<uint32_t>(frame.height);
		return turboYuv_.toRgba(frame, rgbaOut);
	}
	if (!toRgba_ || frame.width != toRgbaWidth_ || frame.height != toRgbaHeight_ ||
	    frame.format != toRgbaFormat_) {
		toRgba_ = makeConverter(frame.width, frame.height, static_cast<AVPixelFormat>(frame.format),
					AV_PIX_FMT_RGBA);
		toRgbaWidth_ = frame.width;
		toRgbaHeight_ = frame.height;
		toRgbaFormat_ = frame.format;
	}
	if (!toRgba_)
		return false;
	widthOut = static_cast<uint32_t>(frame.width);
	heightOut = static_cast<uint32_t>(frame.height);
	rgbaOut.resize(size_t{widthOut} * heightOut * 4);
	uint8_t *const planes[1] = {rgbaOut.data()};
	const int strides[1] = {frame.width * 4};
	sws_scale(toRgba_.get(), frame.data, frame.linesize, 0, frame.height, planes, strides);
	return true;
}

} // namespace kestrel
