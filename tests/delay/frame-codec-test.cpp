#include "delay/video/frame-codec.h"

#include "test-images.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/log.h>
}

#include <algorithm>
#include <string>
#include <vector>

namespace kestrel {
namespace {

using test::psnr;
using test::testImage;

struct Packet {
	std::vector<uint8_t> bytes;
	uint64_t timestamp = 0;
};

FrameCodecOptions withJpeg(JpegLibrary library)
{
	FrameCodecOptions options;
	options.jpegLibrary = library;
	return options;
}

// libx264 opened through the hardware path: the same H.264 code as the graphics-card encoders,
// on any machine whose FFmpeg has it.
FrameCodecOptions softwareH264()
{
	FrameCodecOptions options;
	options.hardwareEncoders = {"libx264"};
	return options;
}

bool haveSoftwareH264()
{
	return avcodec_find_encoder_by_name("libx264") != nullptr;
}

// Feeds frames until the encoder gives a packet out (it may hold a few back).
Packet firstH264Packet(FrameCodec &codec, uint32_t width, uint32_t height)
{
	const std::vector<uint8_t> image = testImage(width, height);
	Packet packet;
	for (uint64_t frame = 1; frame < 100 && packet.bytes.empty(); ++frame)
		EXPECT_TRUE(codec.encode(image.data(), width, height, 3, false, FrameCodec::kEngineHardware,
					 frame, packet.bytes, packet.timestamp));
	return packet;
}

class FrameCodecTest : public ::testing::Test {
protected:
	static void SetUpTestSuite() { av_log_set_level(AV_LOG_QUIET); }
};

class JpegRoundTrip : public ::testing::TestWithParam<JpegLibrary> {};

TEST_P(JpegRoundTrip, ImagesComeBackCloseToTheOriginal)
{
	FrameCodec codec(withJpeg(GetParam()));
	const uint32_t width = 160, height = 96;
	const std::vector<uint8_t> image = testImage(width, height);
	// Lowest acceptable PSNR per quality; 4:2:0 loses the colour edges of the block.
	const struct {
		int quality;
		double minimum420, minimum444;
	} cases[] = {{1, 33.5, 40.0}, {3, 33.0, 38.0}, {10, 31.0, 35.0}};
	for (const bool full444 : {false, true}) {
		double previous = 99.0;
		for (const auto &c : cases) {
			std::vector<uint8_t> packet, decoded;
			uint64_t timestamp = 0;
			uint32_t outWidth = 0, outHeight = 0;
			ASSERT_TRUE(codec.encode(image.data(), width, height, c.quality, full444,
						 FrameCodec::kEngineMjpeg, 77, packet, timestamp));
			ASSERT_GE(packet.size(), 4u);
			EXPECT_EQ(packet[0], 0xFF);
			EXPECT_EQ(packet[1], 0xD8);
			EXPECT_EQ(timestamp, 77u);
			ASSERT_TRUE(codec.decode(packet.data(), packet.size(), decoded, outWidth, outHeight));
			EXPECT_EQ(outWidth, width);
			EXPECT_EQ(outHeight, height);
			const double quality = psnr(image, decoded);
			EXPECT_GE(quality, full444 ? c.minimum444 : c.minimum420)
			    << "quality " << c.quality << " 4:4:4 " << full444;
			EXPECT_LT(quality, previous) << "quality " << c.quality << " is not coarser";
			previous = quality;
		}
	}
	EXPECT_EQ(codec.encoderName(), "mjpeg");
}

INSTANTIATE_TEST_SUITE_P(BothLibraries, JpegRoundTrip,
			 ::testing::Values(JpegLibrary::LibJpegTurbo, JpegLibrary::LibAvCodec),
			 [](const auto &info) {
				 return std::string(info.param == JpegLibrary::LibJpegTurbo ? "LibJpegTurbo"
											    : "LibAvCodec");
			 });

TEST_F(FrameCodecTest, EachJpegLibraryReadsTheOthersPackets)
{
	FrameCodec turbo(withJpeg(JpegLibrary::LibJpegTurbo));
	FrameCodec lavc(withJpeg(JpegLibrary::LibAvCodec));
	const std::vector<uint8_t> image = testImage(128, 72);
	for (FrameCodec *encoder : {&turbo, &lavc}) {
		FrameCodec *decoder = encoder == &turbo ? &lavc : &turbo;
		std::vector<uint8_t> packet, decoded;
		uint64_t timestamp = 0;
		uint32_t width = 0, height = 0;
		ASSERT_TRUE(encoder->encode(image.data(), 128, 72, 3, false, 0, 1, packet, timestamp));
		ASSERT_TRUE(decoder->decode(packet.data(), packet.size(), decoded, width, height));
		EXPECT_EQ(width, 128u);
		EXPECT_EQ(height, 72u);
		EXPECT_GE(psnr(image, decoded), 32.0);
	}
}

TEST_F(FrameCodecTest, EmptyImagesAreRefusedWithoutOpeningAnEncoder)
{
	FrameCodec codec;
	const std::vector<uint8_t> image = testImage(16, 16);
	std::vector<uint8_t> packet{1, 2, 3};
	uint64_t timestamp = 0;
	EXPECT_FALSE(codec.encode(nullptr, 16, 16, 3, false, 0, 5, packet, timestamp));
	EXPECT_FALSE(codec.encode(image.data(), 0, 16, 3, false, 0, 5, packet, timestamp));
	EXPECT_FALSE(codec.encode(image.data(), 16, 0, 3, false, 1, 5, packet, timestamp));
	EXPECT_TRUE(packet.empty());
	EXPECT_EQ(timestamp, 5u);
	EXPECT_EQ(codec.encoderOpenCount(), 0u);
	EXPECT_EQ(codec.engineInUse(), -1);
	EXPECT_EQ(codec.encoderName(), "none");
}

TEST_F(FrameCodecTest, PacketsShorterThanFourBytesAreRefused)
{
	FrameCodec codec;
	const uint8_t bytes[] = {0xFF, 0xD8, 0xFF};
	std::vector<uint8_t> decoded;
	uint32_t width = 0, height = 0;
	for (size_t size = 0; size < 4; ++size)
		EXPECT_FALSE(codec.decode(bytes, size, decoded, width, height));
	EXPECT_FALSE(codec.decode(nullptr, 100, decoded, width, height));
	const std::vector<uint8_t> notJpeg(64, 0x42);
	EXPECT_FALSE(codec.decode(notJpeg.data(), notJpeg.size(), decoded, width, height));
}

TEST_F(FrameCodecTest, QualityOutsideTheScaleIsClamped)
{
	FrameCodec codec;
	const std::vector<uint8_t> image = testImage(64, 64);
	std::vector<uint8_t> best, clampedHigh, worst, clampedLow;
	uint64_t timestamp = 0;
	ASSERT_TRUE(codec.encode(image.data(), 64, 64, 1, false, 0, 1, best, timestamp));
	ASSERT_TRUE(codec.encode(image.data(), 64, 64, -5, false, 0, 1, clampedHigh, timestamp));
	ASSERT_TRUE(codec.encode(image.data(), 64, 64, 10, false, 0, 1, worst, timestamp));
	ASSERT_TRUE(codec.encode(image.data(), 64, 64, 99, false, 0, 1, clampedLow, timestamp));
	EXPECT_EQ(best, clampedHigh);
	EXPECT_EQ(worst, clampedLow);
	EXPECT_GT(best.size(), worst.size());
}

TEST_F(FrameCodecTest, HardwareRequestWithoutHardwareFallsBackToMjpegAndProbesOnce)
{
	FrameCodecOptions options;
	options.hardwareEncoders = {"kestrel_no_such_encoder",
				    "h264_vaapi"}; // missing; refuses without a device
	FrameCodec codec(options);
	const std::vector<uint8_t> image = testImage(64, 48);
	std::vector<uint8_t> packet;
	uint64_t timestamp = 0;
	for (int frame = 0; frame < 5; ++frame) {
		ASSERT_TRUE(codec.encode(image.data(), 64, 48, 3, false, FrameCodec::kEngineHardware, 1,
					 packet, timestamp));
		EXPECT_EQ(packet[0], 0xFF);
	}
	EXPECT_EQ(codec.encoderName(), "mjpeg");
	EXPECT_EQ(codec.engineInUse(), FrameCodec::kEngineMjpeg);
	EXPECT_EQ(codec.encoderOpenCount(), 1u);

	// Any change of what is asked for probes again, including the engine itself.
	ASSERT_TRUE(codec.encode(image.data(), 64, 48, 4, false, 1, 1, packet, timestamp));
	ASSERT_TRUE(codec.encode(image.data(), 64, 48, 4, true, 1, 1, packet, timestamp));
	ASSERT_TRUE(codec.encode(image.data(), 64, 48, 4, true, 0, 1, packet, timestamp));
	ASSERT_TRUE(codec.encode(image.data(), 66, 48, 4, true, 0, 1, packet, timestamp));
	ASSERT_TRUE(codec.encode(image.data(), 66, 48, 4, true, 0, 1, packet, timestamp));
	EXPECT_EQ(codec.encoderOpenCount(), 5u);
}

TEST_F(FrameCodecTest, HeldBackFramesKeepTheirOwnCaptureTime)
{
	if (!haveSoftwareH264())
		GTEST_SKIP() << "this FFmpeg has no libx264 to stand in for a hardware H.264 encoder";
	FrameCodec codec(softwareH264());
	const std::vector<uint8_t> image = testImage(64, 48);
	std::vector<uint64_t> stamps;
	int held = 0;
	for (uint64_t capture = 1000; capture < 1040; ++capture) {
		std::vector<uint8_t> packet;
		uint64_t timestamp = 0;
		ASSERT_TRUE(codec.encode(image.data(), 64, 48, 3, false, 1, capture, packet, timestamp));
		if (packet.empty())
			++held;
		else
			stamps.push_back(timestamp);
	}
	EXPECT_EQ(codec.encoderName(), "libx264");
	ASSERT_FALSE(stamps.empty());
	EXPECT_EQ(stamps.size() + static_cast<size_t>(held), 40u);
	for (size_t i = 0; i < stamps.size(); ++i)
		EXPECT_EQ(stamps[i], 1000 + i) << "packet " << i;
}

TEST_F(FrameCodecTest, DecoderFollowsTheFormatOfEachPacket)
{
	if (!haveSoftwareH264())
		GTEST_SKIP() << "this FFmpeg has no libx264 to produce H.264 packets";
	FrameCodec h264(softwareH264());
	const Packet small = firstH264Packet(h264, 96, 64);
	const Packet large = firstH264Packet(h264, 128, 96); // reopened: new parameter sets
	ASSERT_FALSE(small.bytes.empty());
	ASSERT_FALSE(large.bytes.empty());
	ASSERT_NE(small.bytes[0], 0xFF);

	FrameCodec jpeg;
	std::vector<uint8_t> jpegPacket;
	uint64_t timestamp = 0;
	const std::vector<uint8_t> image = testImage(80, 48);
	ASSERT_TRUE(jpeg.encode(image.data(), 80, 48, 3, false, 0, 1, jpegPacket, timestamp));

	// A fresh codec has no parameter sets of its own: every packet has to decode on its own.
	for (FrameCodec *decoder : {&h264, &jpeg}) {
		const struct {
			const std::vector<uint8_t> &bytes;
			uint32_t width, height;
		} sequence[] = {{small.bytes, 96, 64}, {jpegPacket, 80, 48}, {large.bytes, 128, 96},
				{small.bytes, 96, 64}, {jpegPacket, 80, 48}, {large.bytes, 128, 96}};
		for (const auto &step : sequence) {
			std::vector<uint8_t> decoded;
			uint32_t width = 0, height = 0;
			ASSERT_TRUE(
			    decoder->decode(step.bytes.data(), step.bytes.size(), decoded, width, height));
			EXPECT_EQ(width, step.width);
			EXPECT_EQ(height, step.height);
			EXPECT_EQ(decoded.size(), size_t{width} * height * 4);
		}
	}
}

// The test image seen through a window that moves 8 pixels right per step.
std::vector<uint8_t> pannedImage(uint32_t width, uint32_t height, uint32_t step)
{
	const uint32_t wideWidth = width + 80;
	const std::vector<uint8_t> wide = testImage(wideWidth, height, step + 1);
	std::vector<uint8_t> image;
	for (uint32_t y = 0; y < height; ++y) {
		const auto row = wide.begin() + (size_t{y} * wideWidth + step * 8) * 4;
		image.insert(image.end(), row, row + width * 4);
	}
	return image;
}

// Frames of the software engine half a second apart: a group spans two seconds, so every fourth
// packet is a key frame.
TEST_F(FrameCodecTest, SoftwareH264GroupsDecodeInOrderFromEachKeyFrame)
{
	if (!haveSoftwareH264())
		GTEST_SKIP() << "this FFmpeg has no libx264";
	FrameCodec encoder, decoder;
	std::vector<Packet> packets;
	std::vector<std::vector<uint8_t>> images;
	for (uint32_t i = 0; i < 10; ++i) {
		images.push_back(pannedImage(96, 64, i));
		if (i == 6)
			encoder.requestKeyFrame();
		Packet packet;
		ASSERT_TRUE(encoder.encode(images.back().data(), 96, 64, 3, false,
					   FrameCodec::kEngineSoftwareH264, i * 500'000'000ull, packet.bytes,
					   packet.timestamp));
		ASSERT_FALSE(packet.bytes.empty()) << "frame " << i << " held back";
		EXPECT_EQ(packet.timestamp, i * 500'000'000ull);
		EXPECT_EQ(encoder.lastPacketIsKeyFrame(), i == 0 || i == 4 || i == 6) << "frame " << i;
		packets.push_back(std::move(packet));
	}
	EXPECT_EQ(encoder.encoderName(), "libx264");
	EXPECT_EQ(encoder.engineInUse(), FrameCodec::kEngineSoftwareH264);
	// A group decodes from its key frame on, with no earlier packet.
	for (size_t start : {size_t{0}, size_t{4}}) {
		for (size_t i = start; i < packets.size(); ++i) {
			std::vector<uint8_t> decoded;
			uint32_t width = 0, height = 0;
			ASSERT_TRUE(decoder.decode(packets[i].bytes.data(), packets[i].bytes.size(), decoded,
						   width, height));
			EXPECT_EQ(width, 96u);
			EXPECT_GE(psnr(images[i], decoded), 30.0) << "frame " << i;
		}
	}
}

// A bit rate moves the quantiser only where a group starts, so every packet of a group is coded
// alike, and at every group start, also when frames come a shade faster than 60 a second and
// the group fills its frames before its two seconds; each key frame is decoded as it is made to
// tell how much of the picture the ring keeps.
TEST_F(FrameCodecTest, SoftwareH264BitRateTakesEffectAtTheNextGroup)
{
	if (!haveSoftwareH264())
		GTEST_SKIP() << "this FFmpeg has no libx264";
	constexpr uint64_t frameNs = 16'660'000;
	FrameCodec codec;
	uint64_t frame = 0, lastKeyFrame = 0;
	int quantiser = 0;
	double bestPsnr = 0;
	// Encodes up to `count` frames, or up to the next key frame; true when one came.
	auto encodeFrames = [&](uint64_t count, bool untilKeyFrame) {
		for (const uint64_t end = frame + count; frame < end;) {
			const std::vector<uint8_t> image =
			    testImage(160, 96, static_cast<uint32_t>(frame + 1));
			std::vector<uint8_t> packet;
			uint64_t timestamp = 0;
			EXPECT_TRUE(codec.encode(image.data(), 160, 96, 3, false,
						 FrameCodec::kEngineSoftwareH264, frame * frameNs, packet,
						 timestamp));
			const bool keyFrame = codec.lastPacketIsKeyFrame();
			if (keyFrame) {
				lastKeyFrame = frame;
				bestPsnr = std::max(bestPsnr, codec.measuredPsnr());
			} else {
				EXPECT_EQ(codec.groupQuantiser(), quantiser) << "frame " << frame;
			}
			quantiser = codec.groupQuantiser();
			++frame;
			if (keyFrame && untilKeyFrame)
				return true;
		}
		return false;
	};
	encodeFrames(1, false);
	EXPECT_EQ(quantiser, 18) << "nothing measured yet: the quality's quantiser";
	EXPECT_GT(codec.measuredPsnr(), 30.0);
	codec.setTargetBitRate(5'000); // far below what these frames take at 18
	encodeFrames(300, false);
	EXPECT_GE(quantiser, 30);
	EXPECT_LT(codec.measuredPsnr(), bestPsnr - 1) << "coarser groups keep less of the picture";

	ASSERT_TRUE(encodeFrames(FrameCodec::kGroupFramesLimit, true));
	const uint64_t groupStart = lastKeyFrame;
	encodeFrames(10, false);
	const int coarse = quantiser;
	codec.setTargetBitRate(1'000'000'000); // mid-group
	ASSERT_TRUE(encodeFrames(FrameCodec::kGroupFramesLimit, true));
	EXPECT_EQ(lastKeyFrame - groupStart, 120u) << "the group under way ran its frames";
	EXPECT_EQ(quantiser, coarse - 4) << "then a few steps finer";
	ASSERT_TRUE(encodeFrames(FrameCodec::kGroupFramesLimit + 1, true));
	EXPECT_EQ(quantiser, coarse - 8) << "and again at the next group";
}

TEST_F(FrameCodecTest, UnknownEnginesMeanMjpeg)
{
	FrameCodec codec;
	const std::vector<uint8_t> image = testImage(32, 32);
	for (const int engine : {-1, 3, 99}) {
		std::vector<uint8_t> packet;
		uint64_t timestamp = 0;
		ASSERT_TRUE(codec.encode(image.data(), 32, 32, 3, false, engine, 1, packet, timestamp));
		EXPECT_EQ(codec.engineInUse(), FrameCodec::kEngineMjpeg);
		EXPECT_TRUE(codec.lastPacketIsKeyFrame());
	}
	EXPECT_EQ(codec.encoderOpenCount(), 1u);
}

} // namespace
} // namespace kestrel
