#include "delay/video/ffmpeg-handles.h"

namespace kestrel {

namespace {

// The plain twin of a full-range JPEG format, or the format itself.
AVPixelFormat withoutJpegRange(AVPixelFormat format, bool &fullRange)
{
	fullRange = true;
	switch (format) {
	case AV_PIX_FMT_YUVJ420P:
		return AV_PIX_FMT_YUV420P;
	case AV_PIX_FMT_YUVJ422P:
		return AV_PIX_FMT_YUV422P;
	case AV_PIX_FMT_YUVJ444P:
		return AV_PIX_FMT_YUV444P;
	case AV_PIX_FMT_YUVJ440P:
		return AV_PIX_FMT_YUV440P;
	case AV_PIX_FMT_YUVJ411P:
		return AV_PIX_FMT_YUV411P;
	default:
		fullRange = false;
		return format;
	}
}

} // namespace

ScalerPtr makeConverter(int width, int height, AVPixelFormat from, AVPixelFormat to)
{
	bool fromFull = false, toFull = false;
	from = withoutJpegRange(from, fromFull);
	to = withoutJpegRange(to, toFull);
	ScalerPtr scaler(
	    sws_getContext(width, height, from, width, height, to, SWS_POINT, nullptr, nullptr, nullptr));
	if (scaler && (fromFull || toFull)) {
		int *inverse = nullptr, *table = nullptr, srcRange = 0, dstRange = 0, brightness = 0,
		    contrast = 0, saturation = 0;
		if (sws_getColorspaceDetails(scaler.get(), &inverse, &srcRange, &table, &dstRange,
					     &brightness, &contrast, &saturation) >= 0)
			sws_setColorspaceDetails(scaler.get(), inverse, fromFull ? 1 : srcRange, table,
						 toFull ? 1 : dstRange, brightness, contrast, saturation);
	}
	return scaler;
}

} // namespace kestrel
