#include "delay/video/frame-codec.h"

#include "delay/video/frame-limits.h"
#include "delay/video/picture-quality.h"

#include <algorithm>
#include <utility>

namespace kestrel {

namespace {

bool isJpeg(const uint8_t *bytes)
{
	return bytes[0] == 0xFF && bytes[1] == 0xD8;
}

// The software engine's best quantiser for a quality: 3 gives 18, a shade sharper than JPEG at
// quality 3 on panning and on grainy game captures alike; 10 gives 32.
int floorQuantiser(int quality)
{
	return 14 + 2 * (quality - 1);
}

// Every fourth row tells the quality well enough at a quarter of the work.
constexpr uint32_t kProbeRowStep = 4;

int knownEngine(int engine)
{
	return engine == FrameCodec::kEngineHardware || engine == FrameCodec::kEngineSoftwareH264
		   ? engine
		   : FrameCodec::kEngineMjpeg;
}

} // namespace

FrameCodec::FrameCodec(FrameCodecOptions options)
    : options_(std::move(options)), avDecoder_(options_.softwareH264Threads)
{
}

void FrameCodec::closeEncoder()
{
	avEncoder_.close();
	opened_ = {};
	engineInUse_ = -1;
	encoderName_ = "none";
	measuredPsnr_ = 0;
}

bool FrameCodec::ensureEncoder(const EncoderSettings &wanted)
{
	if (engineInUse_ >= 0 && wanted == opened_)
		return true;
	closeEncoder();
	++encoderOpenCount_;
	const int width = static_cast<int>(wanted.width);
	const int height = static_cast<int>(wanted.height);
	if (wanted.requestedEngine == kEngineSoftwareH264 &&
	    avEncoder_.openSoftwareH264(width, height, wanted.quantiser, wanted.full444, kGroupFramesLimit,
					options_.softwareH264Threads)) {
		engineInUse_ = kEngineSoftwareH264;
		encoderName_ = "libx264";
	}
	if (wanted.requestedEngine == kEngineHardware) {
		for (const std::string &name : options_.hardwareEncoders) {
			if (avEncoder_.openH264(name.c_str(), width, height, wanted.quality)) {
				engineInUse_ = kEngineHardware;
				encoderName_ = name;
				break;
			}
		}
	}
	if (engineInUse_ < 0) {
		if (!usesTurbo() && !avEncoder_.openMjpeg(width, height, wanted.quality, wanted.full444))
			return false;
		engineInUse_ = kEngineMjpeg;
		encoderName_ = "mjpeg";
	}
	opened_ = wanted;
	return true;
}

bool FrameCodec::encode(const uint8_t *rgba, uint32_t width, uint32_t height, int quality, bool full444,
			int engine, uint64_t captureTimestamp, std::vector<uint8_t> &packetOut,
			uint64_t &packetTimestampOut)
{
	packetOut.clear();
	packetTimestampOut = captureTimestamp;
	lastPacketIsKeyFrame_ = false;
	if (!rgba || width == 0 || height == 0 || width > kMaxFrameSide || height > kMaxFrameSide)
		return false;
	EncoderSettings wanted{width, height, std::clamp(quality, 1, 10), full444, knownEngine(engine)};
	const bool startGroup = planGroup(wanted, captureTimestamp);
	if (!ensureEncoder(wanted))
		return false;
	if (engineInUse_ == kEngineMjpeg && usesTurbo()) {
		lastPacketIsKeyFrame_ = true;
		return turbo_.encode(rgba, static_cast<int>(width), static_cast<int>(height), wanted.quality,
				     full444, packetOut);
	}
	keyFrameRequested_ = false;
	int64_t packetTimestamp = 0;
	bool keyFrame = false;
	const bool encoded = avEncoder_.encode(rgba, static_cast<int64_t>(captureTimestamp), startGroup,
					       packetOut, packetTimestamp, keyFrame);
	packetTimestampOut = static_cast<uint64_t>(packetTimestamp);
	if (packetOut.empty())
		return encoded;
	lastPacketIsKeyFrame_ = keyFrame || engineInUse_ != kEngineSoftwareH264;
	if (engineInUse_ != kEngineSoftwareH264)
		return encoded;
	rateControl_.count(packetOut.size());
	framesInGroup_ = keyFrame ? 1 : framesInGroup_ + 1;
	if (keyFrame) {
		groupStartTimestamp_ = packetTimestampOut;
		if (packetTimestampOut == captureTimestamp)
			measureKeyFrame(rgba, packetOut);
	}
	return encoded;
}

bool FrameCodec::planGroup(EncoderSettings &wanted, uint64_t captureTimestamp)
{
	if (wanted.requestedEngine != kEngineSoftwareH264)
		return false;
	wanted.quantiser = opened_.quantiser;
	// A new size, quality or 4:4:4 reopens the encoder, which starts a group in any case.
	const bool reopening = engineInUse_ < 0 || !(wanted == opened_);
	if (!reopening && (engineInUse_ != kEngineSoftwareH264 ||
			   (!startsGroup(captureTimestamp) &&
			    !rateControl_.overspending(captureTimestamp, targetBitRate_))))
		return false;
	wanted.quantiser =
	    rateControl_.startGroup(captureTimestamp, targetBitRate_, floorQuantiser(wanted.quality));
	return true;
}

void FrameCodec::measureKeyFrame(const uint8_t *rgba, const std::vector<uint8_t> &packet)
{
	uint32_t width = 0, height = 0;
	if (probe_.decode(AV_CODEC_ID_H264, packet.data(), packet.size(), {}, probeImage_, width, height) &&
	    width == opened_.width && height == opened_.height)
		measuredPsnr_ = rgbaPsnr(rgba, probeImage_.data(), width, height, kProbeRowStep);
}

bool FrameCodec::startsGroup(uint64_t captureTimestamp) const
{
	return engineInUse_ == kEngineSoftwareH264 &&
	       (keyFrameRequested_ || framesInGroup_ >= kGroupFramesLimit ||
		captureTimestamp < groupStartTimestamp_ ||
		captureTimestamp - groupStartTimestamp_ >= kGroupSpanNs);
}

bool FrameCodec::decode(const uint8_t *bytes, size_t size, std::vector<uint8_t> &rgbaOut, uint32_t &widthOut,
			uint32_t &heightOut)
{
	if (!bytes || size < 4)
		return false;
	if (!isJpeg(bytes))
		return avDecoder_.decode(AV_CODEC_ID_H264, bytes, size, avEncoder_.h264Extradata(), rgbaOut,
					 widthOut, heightOut);
	if (usesTurbo())
		return turbo_.decode(bytes, size, rgbaOut, widthOut, heightOut);
	return avDecoder_.decode(AV_CODEC_ID_MJPEG, bytes, size, {}, rgbaOut, widthOut, heightOut);
}

} // namespace kestrel
