#include "delay/video/turbo-yuv.h"

#include <turbojpeg.h>

namespace kestrel {

namespace {

int subsamplingOf(int format)
{
	return format == AV_PIX_FMT_YUVJ444P ? TJSAMP_444 : TJSAMP_420;
}

} // namespace

TurboYuv::TurboYuv() : compressor_(tjInitCompress()), decompressor_(tjInitDecompress()) {}

TurboYuv::~TurboYuv()
{
	if (compressor_)
		tjDestroy(compressor_);
	if (decompressor_)
		tjDestroy(decompressor_);
}

bool TurboYuv::handles(int format)
{
	return format == AV_PIX_FMT_YUVJ420P || format == AV_PIX_FMT_YUVJ444P;
}

bool TurboYuv::toPlanes(const uint8_t *rgba, AVFrame &frame)
{
	return compressor_ && handles(frame.format) &&
	       tjEncodeYUVPlanes(compressor_, rgba, frame.width, frame.width * 4, frame.height, TJPF_RGBA,
				 frame.data, frame.linesize, subsamplingOf(frame.format), 0) == 0;
}

bool TurboYuv::toRgba(const AVFrame &frame, std::vector<uint8_t> &rgbaOut)
{
	if (!decompressor_ || !handles(frame.format))
		return false;
	rgbaOut.resize(size_t{static_cast<uint32_t>(frame.width)} * static_cast<uint32_t>(frame.height) * 4);
	const unsigned char *planes[3] = {frame.data[0], frame.data[1], frame.data[2]};
	const int strides[3] = {frame.linesize[0], frame.linesize[1], frame.linesize[2]};
	return tjDecodeYUVPlanes(decompressor_, planes, strides, subsamplingOf(frame.format), rgbaOut.data(),
				 frame.width, frame.width * 4, frame.height, TJPF_RGBA, 0) == 0;
}

} // namespace kestrel
